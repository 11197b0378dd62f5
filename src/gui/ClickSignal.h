#pragma once

#include <QObject>

class QWidget;

namespace tarvik {

// A click on a widget that has no click of its own (a picture label): the left button
// pressed and released on it, as a button counts a click; or, when the widget has the focus,
// Space or Enter pressed.
class ClickSignal : public QObject {
    Q_OBJECT

public:
    // The one ClickSignal of `widget`, made on first use and owned by the widget.
    static ClickSignal* of(QWidget* widget);

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ClickSignal(QWidget* widget);

    bool m_pressed = false;
};

} // namespace tarvik
