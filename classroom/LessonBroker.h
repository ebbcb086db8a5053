// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's broker of a lesson in class: Mosquitto as a child of the program, with a configuration, a
// password file and an access list made for the lesson in a folder of the user's, no system service touched.
#pragma once

#include <QJsonObject>
#include <QString>
#include <memory>

#include "classroom/ClassRoll.h"

class QObject;
class QProcess;

// What a lesson is known by: its name in the topics and the codes given out for it, new every lesson.
struct tLessonCodes {
    QString Lesson;
    QString StationCode; // stations join with it, and write only under their own identity
    QString ViewerCode;  // the class page reads with it, and writes nothing
    QString TeacherPassword;
};
// Codes of letters and digits that cannot be mistaken for one another, each drawn at random. The lesson's
// name (4 of them, as the topics show it) begins the station code, so that a station needs the code alone;
// the code's other 8 are its secret, which nothing a viewer sees tells anything of (32⁸ codes to try on the
// broker, each try a password check).
tLessonCodes NewLessonCodes();
// `length` such letters and digits drawn at random.
QString RandomCode(int length);
// The lesson's name in a station code.
QString LessonOfCode(const QString& stationCode);
// A code as typed, in upper case without the spaces and dashes that group it.
QString NormalizedCode(const QString& typed);
// A code as shown: its characters in groups of four ("K7PQ-X3MZ-9TRW").
QString GroupedCode(const QString& code);
// The port a lesson's broker takes for stations (the class page's is the next one) when it is free.
inline constexpr int kLessonPort = 18883;

// The largest message a client of the lesson may send, payload and topic; the broker disconnects a client
// that sends more. A station's messages stay well below it.
// The broker hands a page over WebSockets about 40 KB a second of one message, and a page that waits over 5 s
// for its keep-alive's answer connects again: larger messages would hold every page off for good.
inline constexpr int kMaxMessageBytes = 128 * 1024;
inline constexpr int kMaxPacketBytes = kMaxMessageBytes + 1024;

// The user names the codes go with.
extern const char kTeacherUser[];
extern const char kStationUser[];
extern const char kViewerUser[];

struct tBrokerPorts {
    int Mqtt = 0;       // stations (with TLS when CertFile is given)
    int WebSockets = 0; // the class page, also served from HttpDir (none without it)
    QString Bind;       // an address to listen on; empty: every one
    QString HttpDir;
    QString CertFile, KeyFile;
};

// The teacher's certificate for the stations' connections, made once (self-signed, by openssl) and kept in
// `folder`: its PEM file, its key file, and its SHA-256 fingerprint as stations pin it ("AB:CD:…").
struct tTeacherCertificate {
    QString CertFile, KeyFile, Fingerprint;
};
tTeacherCertificate TeacherCertificate(const QString& folder);
// The fingerprint of a PEM certificate as it is shown on both screens.
QString CertificateFingerprint(const QByteArray& pem);

// The access list of the class page's listener: the viewer reads the lesson, but for the requests to join.
QString BrokerAcl(const tLessonCodes& codes);
// The stations' listener's clients and roles as the broker's dynamic security keeps them: the teacher reads
// and writes the lesson and administers the clients, the station code asks to join and hears the answer
// (zorbinka/<lesson>/join/<id>, …/roll/<id>), the viewer reads the lesson but for the requests to join.
QByteArray DynamicSecurityConfig(const tLessonCodes& codes);
// The role of a station that joined: it writes under station/<its id>/ alone and reads what the teacher sends.
QJsonObject StationRole(const QString& lesson, const QString& station);

// Ends the brokers of lessons in folders "zorbinka-lesson-<program's pid>" under `parent` whose program ended
// (a crash that took it too fast to end them): none stays on the lesson's ports. How many were ended.
int EndOrphanBrokers(const QString& parent);

class tLessonBroker {
public:
    tLessonBroker();
    ~tLessonBroker();
    // Writes the broker's files into `folder` (made private to the user) and starts it; returns once it takes
    // connections. Raises Exception with the reason (and what the broker said) when it cannot.
    void Start(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports);
    // Stops it for good (a broker that ends by itself is started again with the same codes and ports);
    // `again`: to start it again, the roll of stations kept.
    void Stop(bool again = false);
    bool Running() const;
    qint64 ProcessId() const;
    // What the broker wrote to its log so far.
    QString Log() const;
    // The stations that joined, while it runs.
    tClassRoll* Roll() const { return FRoll.get(); }

private:
    void Launch(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports, bool fresh);
    void Restart(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports);

    std::unique_ptr<QProcess> FProcess;
    std::unique_ptr<QObject> FWatch; // while it lives, a broker that ends is started again
    std::unique_ptr<tClassRoll> FRoll;
    mutable QString FLog;
};
