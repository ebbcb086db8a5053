// SPDX-License-Identifier: GPL-3.0-or-later
// Класс: the teacher begins a lesson in class (its broker, the codes to give out) and ends it; a station
// joins a lesson and leaves it, its link shown in the status bar.
#pragma once

#include "classroom/Discovery.h"
#include "classroom/LessonBroker.h"
#include "classroom/Payloads.h"

#include <QDialog>
#include <QImage>
#include <QMenu>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QMainWindow;
class tLesson;
class tStationLink;

// Присоединиться к уроку: the teacher's address, the station code and the group's name.
class TJoinDialog : public QDialog {
    Q_OBJECT
public:
    explicit TJoinDialog(QWidget* parent);
    QLineEdit* Address;
    QLineEdit* Code;
    QLineEdit* Group;
    // Looks for teachers on the network (Avahi) and puts the first found into Address.
    void Find();

private:
    QPushButton* FFind;
    QLabel* FFound;
};

// The lesson begun: its address, codes and certificate's fingerprint, and the class page's address as a QR
// code.
class TLessonDialog : public QDialog {
    Q_OBJECT
public:
    // With a page, the box offers to open it in the browser here (`openPage`): the projector shows the class.
    TLessonDialog(QWidget* parent, const QString& text, const QString& page, std::function<void()> openPage);
    QString Text() const { return FText; }
    QString Page() const { return FPage; }

private:
    QString FText, FPage;
};

class TClassMenu : public QMenu {
    Q_OBJECT
public:
    // `open` opens an experiment of the catalogue by its path there (as the teacher offers it).
    TClassMenu(QMainWindow* window, tLesson& lesson, std::function<void(const QString&)> open);
    ~TClassMenu() override;
    void BeginLesson();
    void EndLesson();
    // The class page of the lesson given, in the browser (the viewer code in its address).
    void OpenPage();
    QString PageUrl(const QString& host, bool withCode) const;
    // The teacher's word to the class: the experiment open offered, a line of text.
    void OfferExperiment();
    void MessageClass();
    // A station taken out of the lesson: disconnected, gone from the class page, not let back in.
    void RemoveStation();
    void Join();
    void Leave();
    // While this computer gives a lesson: its codes and the port stations join on.
    const std::optional<tLessonCodes>& Codes() const { return FCodes; }
    int Port() const { return FPort; }
    tStationLink* Link() const { return FLink.get(); }

private:
    void Update();
    // Hands the teacher's word to the lesson's broker off the window's thread.
    void Send(const tTeacherMessage& message);

    QMainWindow* FWindow;
    tLesson& FLesson;
    QAction* FBegin;
    QAction* FEnd;
    QAction* FPage;
    QAction* FOffer;
    QAction* FMessage;
    QAction* FRemove;
    std::function<void(const QString&)> FOpen;
    QString FCertificate;
    QAction* FJoin;
    QAction* FLeave;
    QLabel* FStatus;
    std::unique_ptr<tLessonBroker> FBroker;
    tAnnouncement FAnnouncement;
    std::optional<tLessonCodes> FCodes;
    int FPort = 0;
    QString FFingerprint;
    std::unique_ptr<tStationLink> FLink;
    bool FEndedByTeacher =
        false; // the teacher ended the lesson this station was in: said until it joins again
};
