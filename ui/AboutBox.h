// О программе: the program's name and version, its licence (GPL-3.0-or-later, no warranty, where the full
// text is), the sample catalogue's licence and the libraries it uses.
#pragma once

#include <QDialog>
#include <QString>

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent);
    // The box's text (rich text, Russian).
    static QString Text();
    // Where the full text of the GPL version 3 is on this system: the common licences of the system, else the
    // LICENSE beside the program or in its source; empty when none is found.
    static QString LicenceFile();
};

// Shows the box modally through the prompts.
void ShowAbout(QWidget* parent);
