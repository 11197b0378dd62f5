#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;

namespace tarvik {

// A package picture at its natural size in a window without border or title bar, as an
// enlargement of a box that stretches it; a picture larger than the screen is fitted
// within it. A click on the picture closes the window, and so do Escape and Enter.
class PictureWindow : public QDialog {
    Q_OBJECT

protected:
    // The window is exactly the picture; `owner` keeps it off the taskbar and above itself.
    // A screen reader names the window after the package type `typeName`.
    PictureWindow(const QPixmap& shown, const QString& typeName, QWidget* owner);

    void keyPressEvent(QKeyEvent* event) override;

    QLabel* picture() const { return m_image1; }
    // Places the window with its centre on `centre`, within the screen.
    void centreOn(const QPoint& centre);

private:
    QLabel* m_image1;
};

// The main window's package picture, enlarged, in the middle of the screen.
class Form25 : public PictureWindow {
    Q_OBJECT

public:
    Form25(const QPixmap& picture, const QString& typeName, QWidget* owner);
};

// The package-type window's picture, enlarged, over the middle of that window.
class picView1 : public PictureWindow {
    Q_OBJECT

public:
    picView1(const QPixmap& picture, const QString& typeName, QWidget* owner);
};

} // namespace tarvik
