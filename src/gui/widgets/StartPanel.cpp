#include "widgets/StartPanel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/FirstRunNotice.h"

namespace spindle::gui {

CStartPanel::CStartPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("startPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);

    heading_ = new QLabel(this);
    heading_->setObjectName(QStringLiteral("startHeading"));
    QFont font = heading_->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    heading_->setFont(font);
    heading_->setWordWrap(true);

    body_ = new QLabel(this);
    body_->setObjectName(QStringLiteral("startBody"));
    body_->setWordWrap(true);
    body_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    commands_ = new QLabel(this);
    commands_->setObjectName(QStringLiteral("startCommands"));
    commands_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    commands_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    commands_->setFrameShape(QFrame::StyledPanel);
    commands_->setMargin(8);

    auto* buttons = new QHBoxLayout;
    demo_ = new QPushButton(QString::fromUtf8(kOpenDemoBenchLabel), this);
    demo_->setObjectName(QStringLiteral("startDemoBench"));
    refresh_ = new QPushButton(tr("Refresh Tree"), this);
    refresh_->setObjectName(QStringLiteral("startRefreshTree"));
    buttons->addWidget(demo_);
    buttons->addWidget(refresh_);
    buttons->addStretch(1);
    connect(demo_, &QPushButton::clicked, this, [this] {
        if (onOpenDemoBench) onOpenDemoBench();
    });
    connect(refresh_, &QPushButton::clicked, this, [this] {
        if (onRefreshTree) onRefreshTree();
    });

    layout->addWidget(heading_);
    layout->addWidget(body_);
    layout->addWidget(commands_);
    layout->addLayout(buttons);
    layout->addStretch(1);
}

void CStartPanel::Show(const FirstRunNotice& notice) {
    heading_->setText(QString::fromStdString(notice.heading));
    QStringList paragraphs;
    for (const std::string& paragraph : notice.paragraphs) paragraphs << QString::fromStdString(paragraph);
    body_->setText(paragraphs.join(QStringLiteral("\n\n")));
    QStringList commands;
    for (const std::string& command : notice.commands) commands << QString::fromStdString(command);
    commands_->setText(commands.join(QLatin1Char('\n')));
    commands_->setVisible(!commands.isEmpty());
    demo_->setVisible(notice.offerDemoBench);
}

}  // namespace spindle::gui
