// SPDX-License-Identifier: GPL-3.0-or-later
// A station in a lesson in class: it follows its lesson and publishes it to the lesson's broker, under its
// own identity, and hears what the teacher sends. Measuring never waits on the network: the lesson's notices
// only queue messages, which a thread of the link's own sends; when the broker is gone the link reconnects
// with growing pauses and then sends the state, the runs and the results again.
#pragma once

#include "classroom/LessonBroker.h"
#include "classroom/Payloads.h"

#include <QObject>
#include <QString>
#include <memory>

class tLesson;

struct tStationSettings {
    QString Host = QStringLiteral("127.0.0.1");
    int Port = 1883;
    QString Lesson;
    QString Code; // the station code of the lesson: it asks to join with it, once
    QString Id;   // the station's identity in the lesson: the topic it writes under
    QString Group;
    // The teacher's certificate the station pinned: the connection is encrypted and made only to its holder.
    QString CaFile;
    // The password of the station's own client in the lesson, chosen by it when it asks to join (empty: one is
    // drawn at random).
    QString Password = QString();
};
// The station's identity and password in the lesson of the station code `code`: drawn at random for a lesson
// not joined before, else as kept, so that a station started again comes back as itself.
void TakeLessonIdentity(tStationSettings& settings);

// The teacher's certificate at `host`:`port`, pinned for the host (whatever port the lesson takes) and
// checked against the pin after: the PEM file to trust and its fingerprint. With `trustNew`, a first
// certificate is pinned at once and another than the one pinned raises Exception with both fingerprints;
// without it nothing is kept: the caller asks the user (`First`, `Changed()`) and keeps it with
// KeepTeacherPin. Raises Exception with the reason when the teacher cannot be reached.
struct tTeacherPin {
    QString CaFile; // written once the certificate is trusted
    QString Fingerprint;
    QString Pinned; // the fingerprint pinned before for the host; empty on the first join
    QString Host;
    QByteArray Pem;
    bool First = false; // not pinned before: the user is to compare it with the teacher's screen
    bool Changed() const { return !Pinned.isEmpty() && Pinned != Fingerprint; }
};
tTeacherPin PinTeacher(const QString& host, int port, bool trustNew = true);
// Pins the certificate for its host (in place of another pinned before) and writes its PEM file.
void KeepTeacherPin(tTeacherPin& pin);

class tStationLink : public QObject {
    Q_OBJECT
public:
    // Refused: the teacher did not take the station (its group's name taken, removed by the teacher); the
    // link tries no more.
    enum class tState { Connecting, Connected, Lost, Refused };
    tStationLink(tLesson& lesson, tStationSettings settings, QObject* parent = nullptr);
    ~tStationLink() override;
    tState State() const;
    // Why the teacher refused the station.
    QString Refusal() const;
    const tStationSettings& Settings() const { return FSettings; }
    // Live batches dropped because the broker could not take them fast enough (the queue holds 256).
    long long Dropped() const;
    // Messages queued and not yet handed to the broker.
    int Pending() const;

signals:
    void stateChanged();
    void teacherMessage(const tTeacherMessage& message);

private:
    struct tShared;
    void Queue(const QString& what, const QByteArray& payload, bool retained);
    void PublishState(bool always);
    void PublishRun(int run);
    void PublishCurrent();
    void SyncRuns();

    tLesson& FLesson;
    tStationSettings FSettings;
    std::shared_ptr<tShared> FShared;
    qint64 FStateSent = 0;
    // The run being recorded (its published number, -1 for none) as sent live, and when it was last sent
    // whole.
    tRunSketch FSketch;
    int FSketchRun = -1;
    qint64 FSketchSent = 0;
};

// The teacher's word to every station of the lesson on the broker at 127.0.0.1:`port` (TLS with the teacher's
// certificate `ca`): an experiment offered or a line of text. Raises Exception when it could not be sent.
void SendToClass(int port, const QString& ca, const tLessonCodes& codes, const tTeacherMessage& message);
// An experiment's path in the catalogue ("Физика/Оптика/…") from its folder, as stations find it in theirs.
QString CataloguePath(const QString& experimentFolder);
