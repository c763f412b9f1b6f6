// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Settings;
}

// The panel that leads out of the program: the web site, the tutorial video and an e-mail to
// support, each handed to the user's own programs. It keeps no state.
class Settings : public QWidget {
    Q_OBJECT

public:
    explicit Settings(QWidget *parent = nullptr);
    ~Settings() override;

public slots:
    void webpage();
    void tutorial();
    void mail();

private:
    std::unique_ptr<Ui::Settings> ui_;
};
