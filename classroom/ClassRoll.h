// SPDX-License-Identifier: GPL-3.0-or-later
// The roll of a lesson in class, kept by the teacher's program as the administrator of its broker: a station
// asks to join once with the station code (zorbinka/<lesson>/join/<its id>: the password it chose and its
// group's name) and is given a client of its own, which writes under station/<its id>/ alone. A second claim
// of an id, a group's name taken, and a station the teacher removed are refused with the reason
// (…/roll/<id>); the roll of groups is kept retained at …/roll for the class page.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct tLessonCodes;
struct tBrokerPorts;

// What a station asks to join with, and what it is answered.
struct tJoinRequest {
    QString Password;
    QString Group;
};
QByteArray JoinPayload(const tJoinRequest& request);
// None for anything malformed (the reason in `error`).
std::optional<tJoinRequest> ParseJoinPayload(const QByteArray& payload, QString* error = nullptr);
// A station's id as it may stand in a topic: 2 to 40 Latin letters and digits.
bool ValidStationId(const QString& id);
// The broker's user name of a station's own client.
QString StationUser(const QString& id);
// The topics of joining: the request, the answer to it, the roll.
QString JoinTopic(const QString& lesson, const QString& id);
QString RollTopic(const QString& lesson, const QString& id = QString());
// The answer: empty when joined, else why not.
QByteArray JoinAnswer(const QString& refusal);
std::optional<QString> ParseJoinAnswer(const QByteArray& payload);

struct tRollStation {
    QString Id;
    QString Group;
};

class tClassRoll {
public:
    // The most stations a lesson takes.
    static constexpr int kMaxStations = 200;
    // Connects to the lesson's broker at 127.0.0.1 (as the teacher, with TLS to the teacher's certificate
    // when the broker has one) and keeps connecting.
    tClassRoll(const tLessonCodes& codes, const tBrokerPorts& ports);
    ~tClassRoll();
    tClassRoll(const tClassRoll&) = delete;
    tClassRoll& operator=(const tClassRoll&) = delete;
    // Waits (`ms` at most) until the roll hears requests to join; whether it does.
    bool WaitReady(int ms) const;
    // The stations that joined, in the order they did.
    std::vector<tRollStation> Stations() const;
    // Takes a station out of the lesson: its client removed (disconnected at once), what it left on the broker
    // taken away, and its id refused from now on.
    void Remove(const QString& id);
    // Called (on a thread of the link's) whenever the roll changed.
    void OnChanged(std::function<void()> changed);

private:
    struct tShared;
    std::shared_ptr<tShared> FShared;
};
