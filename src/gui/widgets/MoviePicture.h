#pragma once
#include <QLabel>
#include <QMovie>

#include "tools/AnimatedPicture.h"

namespace spindle::gui {

// The animated picture of a page, drawn by a QLabel playing a QMovie. Load
// takes the GIF compiled into the program as ":/<type>/<id>.gif" (type in
// lower case), so "GIF" 163 is ":/gif/163.gif". Stopped, it shows the first
// frame.
class CMoviePicture final : public QLabel, public IAnimatedPicture {
public:
    explicit CMoviePicture(QWidget* parent = nullptr);

    bool Load(const std::string& resourceType, int resourceId) override;
    void Play() override;
    void Stop() override;

    bool IsLoaded() const { return loaded_; }
    bool IsPlaying() const { return movie_.state() == QMovie::Running; }
    QMovie& Movie() { return movie_; }

    static QString ResourcePath(const std::string& resourceType, int resourceId);

private:
    QMovie movie_;
    bool loaded_ = false;
};

}  // namespace spindle::gui
