#pragma once

#include <QDialog>
#include <QUrl>

#include <memory>

namespace Ui {
class Form21;
}

namespace tarvik {

// "О программе": two pictures, the contact line and two links, the web site and e-mail.
// Built afresh for every opening, so it always shows its design state.
class Form21 : public QDialog {
    Q_OBJECT

public:
    explicit Form21(QWidget* parent = nullptr);
    ~Form21() override;

    // The address of a new message to the author about this version of the program.
    static QUrl mailLink(const QString& address, int major, int minor, int patch);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void writeMail();
    void openWebSite();

    std::unique_ptr<Ui::Form21> ui;
};

} // namespace tarvik
