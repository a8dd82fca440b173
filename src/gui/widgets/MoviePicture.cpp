#include "widgets/MoviePicture.h"

namespace spindle::gui {

CMoviePicture::CMoviePicture(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    // The fan's size, so the layout keeps room for it before it is loaded.
    setMinimumSize(48, 48);
}

QString CMoviePicture::ResourcePath(const std::string& resourceType, int resourceId) {
    return QStringLiteral(":/%1/%2.gif").arg(QString::fromStdString(resourceType).toLower()).arg(resourceId);
}

bool CMoviePicture::Load(const std::string& resourceType, int resourceId) {
    movie_.stop();
    setMovie(nullptr);
    movie_.setFileName(ResourcePath(resourceType, resourceId));
    loaded_ = movie_.isValid();
    if (!loaded_) {
        clear();
        return false;
    }
    setMovie(&movie_);
    movie_.jumpToFrame(0);
    return true;
}

void CMoviePicture::Play() {
    if (loaded_ && movie_.state() != QMovie::Running) movie_.start();
}

void CMoviePicture::Stop() {
    if (!loaded_) return;
    movie_.stop();
    movie_.jumpToFrame(0);
}

}  // namespace spindle::gui
