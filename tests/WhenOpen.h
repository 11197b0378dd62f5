#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>

#include <functional>

namespace tarvik::test {

// Runs `step` on the modal window of type T as soon as it is open (a command under test opens
// it and waits in its own event loop); what the step leaves open is closed, so a failed check
// never leaves the test waiting.
template <typename T> void whenOpen(std::function<void(T*)> step)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, step] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            step(window);
            if (window->isVisible())
                window->reject();
        }
    });
    poll->start();
}

} // namespace tarvik::test
