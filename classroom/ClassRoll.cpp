// SPDX-License-Identifier: GPL-3.0-or-later
// The roll: libmosquitto's own thread takes the requests to join and the broker's answers to the commands
// that make and remove the stations' clients.
#include "classroom/ClassRoll.h"

#include "classroom/LessonBroker.h"
#include "classroom/Payloads.h"
#include "core/Logfile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <condition_variable>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <set>

namespace {

constexpr char kControl[] = "$CONTROL/dynamic-security/v1";
constexpr char kControlAnswer[] = "$CONTROL/dynamic-security/v1/response";
constexpr int kMaxGroup = 60;

} // namespace

QByteArray JoinPayload(const tJoinRequest& request) {
    return QJsonDocument(QJsonObject{{QStringLiteral("password"), request.Password},
                                     {QStringLiteral("group"), request.Group}})
        .toJson(QJsonDocument::Compact);
}

std::optional<tJoinRequest> ParseJoinPayload(const QByteArray& payload, QString* error) {
    const auto fail = [&](const char* why) {
        if (error) *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    if (payload.size() > 2048) return fail("too large");
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject()) return fail("not a JSON object");
    const QJsonValue password = document.object().value(QStringLiteral("password"));
    const QJsonValue group = document.object().value(QStringLiteral("group"));
    if (!password.isString() || !group.isString()) return fail("no password or group");
    tJoinRequest request{password.toString(), group.toString().simplified()};
    static const QRegularExpression printable(QStringLiteral("^[!-~]{16,128}$"));
    if (!printable.match(request.Password).hasMatch()) return fail("password of 16 to 128 visible characters");
    if (request.Group.isEmpty() || request.Group.size() > kMaxGroup ||
        std::any_of(request.Group.begin(), request.Group.end(), [](QChar c) { return !c.isPrint(); }))
        return fail("group name of 1 to 60 visible characters");
    return request;
}

bool ValidStationId(const QString& id) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9]{2,40}$"));
    return pattern.match(id).hasMatch();
}

QString StationUser(const QString& id) {
    return QStringLiteral("station-") + id;
}

QString JoinTopic(const QString& lesson, const QString& id) {
    return QStringLiteral("zorbinka/%1/join/%2").arg(lesson, id);
}

QString RollTopic(const QString& lesson, const QString& id) {
    return QStringLiteral("zorbinka/%1/roll").arg(lesson) + (id.isEmpty() ? QString() : u'/' + id);
}

QByteArray JoinAnswer(const QString& refusal) {
    return QJsonDocument(refusal.isEmpty() ? QJsonObject{{QStringLiteral("ok"), true}}
                                           : QJsonObject{{QStringLiteral("refused"), refusal}})
        .toJson(QJsonDocument::Compact);
}

std::optional<QString> ParseJoinAnswer(const QByteArray& payload) {
    const QJsonObject answer = QJsonDocument::fromJson(payload.left(4096)).object();
    if (answer.value(QStringLiteral("ok")).toBool()) return QString();
    const QString refusal = answer.value(QStringLiteral("refused")).toString().left(300);
    if (refusal.isEmpty()) return std::nullopt;
    return refusal;
}

struct tClassRoll::tShared {
    QString Lesson;
    mosquitto* Client = nullptr;
    mutable std::mutex Lock;
    std::vector<tRollStation> Stations;
    std::set<QString> Removed;
    // Stations whose clients are being made: their group's name, held until the broker answers.
    std::map<QString, QString> Joining;
    std::function<void()> Changed;
    // Whether the broker has taken the roll's subscriptions since it connected.
    bool Ready = false;
    mutable std::condition_variable ReadyChanged;

    void Publish(const QString& topic, const QByteArray& payload, bool retained) {
        const QByteArray name = topic.toUtf8();
        mosquitto_publish(Client, nullptr, name.constData(), int(payload.size()), payload.constData(), 1,
                          retained);
    }
    void Command(const QJsonArray& commands) {
        Publish(QString::fromLatin1(kControl),
                QJsonDocument(QJsonObject{{QStringLiteral("commands"), commands}}).toJson(QJsonDocument::Compact),
                false);
    }
    // Under the lock.
    void PublishRoll() {
        QJsonObject groups;
        for (const tRollStation& s : Stations) groups.insert(s.Id, s.Group);
        Publish(RollTopic(Lesson),
                QJsonDocument(QJsonObject{{QStringLiteral("groups"), groups}}).toJson(QJsonDocument::Compact), true);
    }
    void Tell() {
        std::function<void()> changed;
        {
            std::lock_guard<std::mutex> guard(Lock);
            changed = Changed;
        }
        if (changed) changed();
    }

    void Connected() {
        const QByteArray join = JoinTopic(Lesson, QStringLiteral("+")).toUtf8();
        const char* topics[] = {join.constData(), kControlAnswer};
        mosquitto_subscribe_multiple(Client, nullptr, 2, const_cast<char* const*>(topics), 1, 0, nullptr);
        // A broker started again keeps no retained message: the roll is said again. Requests it never answered
        // are asked again by their stations.
        std::lock_guard<std::mutex> guard(Lock);
        Joining.clear();
        PublishRoll();
        for (const QString& id : Removed) Forget(id);
    }

    // What a removed station left on the broker is taken away as it comes, its last will too.
    void Forget(const QString& id) {
        const QByteArray topic = StationTopic(Lesson, id, QStringLiteral("#")).toUtf8();
        mosquitto_subscribe(Client, nullptr, topic.constData(), 0);
    }

    void Take(const mosquitto_message& message) {
        const QString topic = QString::fromUtf8(message.topic);
        const QByteArray payload(static_cast<const char*>(message.payload), message.payloadlen);
        if (topic == QLatin1String(kControlAnswer)) return Answered(payload);
        const QString join = JoinTopic(Lesson, QString());
        if (topic.startsWith(join)) {
            // A request may have been sent retained: it is not left on the broker (its password in it), nor
            // taken again when the roll comes back. (Taking it away comes back here empty.)
            if (payload.isEmpty()) return;
            Publish(topic, QByteArray(), true);
            if (!message.retain) Asked(topic.mid(join.size()), payload);
            return;
        }
        const QString stations = QStringLiteral("zorbinka/%1/station/").arg(Lesson);
        if (topic.startsWith(stations) && message.retain && !payload.isEmpty()) {
            std::lock_guard<std::mutex> guard(Lock);
            if (Removed.count(topic.mid(stations.size()).section(u'/', 0, 0)))
                Publish(topic, QByteArray(), true);
        }
    }

    void Refuse(const QString& id, const QString& why, const QString& logged) {
        WriteLog(QStringLiteral("Class: station %1 refused: %2").arg(id, logged));
        Publish(RollTopic(Lesson, id), JoinAnswer(why), false);
    }

    void Asked(const QString& id, const QByteArray& payload) {
        if (!ValidStationId(id)) {
            WriteLog(QStringLiteral("Class: a request to join skipped (an id such as no station has)"));
            return;
        }
        QString error;
        const std::optional<tJoinRequest> request = ParseJoinPayload(payload, &error);
        if (!request) return Refuse(id, QStringLiteral("учитель не понял просьбу станции"), error);
        std::unique_lock<std::mutex> guard(Lock);
        const auto same = [&](const QString& group) {
            return group.compare(request->Group, Qt::CaseInsensitive) == 0;
        };
        if (Removed.count(id)) {
            guard.unlock();
            return Refuse(id, QStringLiteral("учитель убрал эту станцию из урока"), QStringLiteral("removed"));
        }
        if (Joining.count(id) || std::any_of(Stations.begin(), Stations.end(),
                                             [&](const tRollStation& s) { return s.Id == id; })) {
            guard.unlock();
            return Refuse(id, QStringLiteral("станция с этим номером уже есть на уроке"),
                          QStringLiteral("the id is taken"));
        }
        if (std::any_of(Stations.begin(), Stations.end(), [&](const tRollStation& s) { return same(s.Group); }) ||
            std::any_of(Joining.begin(), Joining.end(), [&](const auto& j) { return same(j.second); })) {
            guard.unlock();
            return Refuse(id,
                          QStringLiteral("группа «%1» уже есть на уроке: покиньте урок и выберите другое название")
                              .arg(request->Group),
                          QStringLiteral("the group's name is taken"));
        }
        if (int(Stations.size() + Joining.size()) >= kMaxStations) {
            guard.unlock();
            return Refuse(id, QStringLiteral("на уроке уже %1 станций").arg(kMaxStations),
                          QStringLiteral("the lesson is full"));
        }
        Joining[id] = request->Group;
        guard.unlock();
        QJsonObject role = StationRole(Lesson, id);
        role.insert(QStringLiteral("command"), QStringLiteral("createRole"));
        Command({role,
                 QJsonObject{{QStringLiteral("command"), QStringLiteral("createClient")},
                             {QStringLiteral("username"), StationUser(id)},
                             {QStringLiteral("password"), request->Password},
                             {QStringLiteral("roles"),
                              QJsonArray{QJsonObject{{QStringLiteral("rolename"), StationUser(id)}}}},
                             {QStringLiteral("correlationData"), id}}});
    }

    void Answered(const QByteArray& payload) {
        const QJsonArray answers =
            QJsonDocument::fromJson(payload).object().value(QStringLiteral("responses")).toArray();
        for (const QJsonValue& value : answers) {
            const QJsonObject answer = value.toObject();
            if (answer.value(QStringLiteral("command")).toString() != QLatin1String("createClient")) continue;
            const QString id = answer.value(QStringLiteral("correlationData")).toString();
            const QString error = answer.value(QStringLiteral("error")).toString();
            QString group;
            {
                std::lock_guard<std::mutex> guard(Lock);
                const auto joining = Joining.find(id);
                if (joining == Joining.end()) continue;
                group = joining->second;
                Joining.erase(joining);
                if (error.isEmpty()) {
                    Stations.push_back({id, group});
                    PublishRoll();
                }
            }
            if (!error.isEmpty()) {
                Refuse(id, QStringLiteral("учитель не смог принять станцию"), error);
                continue;
            }
            WriteLog(QStringLiteral("Class: station %1 joined as \"%2\"").arg(id, group));
            Publish(RollTopic(Lesson, id), JoinAnswer(QString()), false);
            Tell();
        }
    }
};

tClassRoll::tClassRoll(const tLessonCodes& codes, const tBrokerPorts& ports)
    : FShared(std::make_shared<tShared>()) {
    tShared& shared = *FShared;
    shared.Lesson = codes.Lesson;
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    shared.Client = mosquitto_new(nullptr, true, &shared);
    mosquitto_int_option(shared.Client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_username_pw_set(shared.Client, kTeacherUser, codes.TeacherPassword.toUtf8().constData());
    if (!ports.CertFile.isEmpty()) {
        mosquitto_tls_set(shared.Client, QFile::encodeName(ports.CertFile).constData(), nullptr, nullptr, nullptr,
                          nullptr);
        mosquitto_tls_insecure_set(shared.Client, true);
    }
    mosquitto_reconnect_delay_set(shared.Client, 1, 2, false);
    mosquitto_connect_callback_set(shared.Client, [](mosquitto*, void* self, int rc) {
        if (rc == 0) static_cast<tShared*>(self)->Connected();
    });
    mosquitto_disconnect_callback_set(shared.Client, [](mosquitto*, void* self, int) {
        auto* s = static_cast<tShared*>(self);
        std::lock_guard<std::mutex> guard(s->Lock);
        s->Ready = false;
    });
    mosquitto_subscribe_callback_set(shared.Client, [](mosquitto*, void* self, int, int, const int*) {
        auto* s = static_cast<tShared*>(self);
        {
            std::lock_guard<std::mutex> guard(s->Lock);
            s->Ready = true;
        }
        s->ReadyChanged.notify_all();
    });
    mosquitto_message_callback_set(shared.Client, [](mosquitto*, void* self, const mosquitto_message* message) {
        static_cast<tShared*>(self)->Take(*message);
    });
    mosquitto_connect_async(shared.Client, "127.0.0.1", ports.Mqtt, 5);
    mosquitto_loop_start(shared.Client);
}

tClassRoll::~tClassRoll() {
    mosquitto_disconnect(FShared->Client);
    mosquitto_loop_stop(FShared->Client, false);
    mosquitto_destroy(FShared->Client);
}

bool tClassRoll::WaitReady(int ms) const {
    std::unique_lock<std::mutex> guard(FShared->Lock);
    return FShared->ReadyChanged.wait_for(guard, std::chrono::milliseconds(ms), [&] { return FShared->Ready; });
}

std::vector<tRollStation> tClassRoll::Stations() const {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    return FShared->Stations;
}

void tClassRoll::Remove(const QString& id) {
    tShared& shared = *FShared;
    {
        std::lock_guard<std::mutex> guard(shared.Lock);
        shared.Removed.insert(id);
        std::erase_if(shared.Stations, [&](const tRollStation& s) { return s.Id == id; });
        shared.PublishRoll();
        shared.Forget(id);
    }
    // Its client removed, it is disconnected at once and cannot come back.
    shared.Command({QJsonObject{{QStringLiteral("command"), QStringLiteral("deleteClient")},
                                {QStringLiteral("username"), StationUser(id)}},
                    QJsonObject{{QStringLiteral("command"), QStringLiteral("deleteRole")},
                                {QStringLiteral("rolename"), StationUser(id)}}});
    WriteLog(QStringLiteral("Class: station %1 removed by the teacher").arg(id));
    shared.Tell();
}

void tClassRoll::OnChanged(std::function<void()> changed) {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    FShared->Changed = std::move(changed);
}
