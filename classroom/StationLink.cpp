// SPDX-License-Identifier: GPL-3.0-or-later
// The station's link: libmosquitto's network thread, and a thread of the link's own that hands it what the
// lesson queued.
#include "classroom/StationLink.h"

#include "classroom/ClassRoll.h"
#include "classroom/LessonBroker.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/UserFolders.h"
#include "lesson/Lesson.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSettings>
#include <QSslCertificate>
#include <QSslSocket>
#include <QCryptographicHash>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <set>
#include <thread>

namespace {

constexpr std::size_t kLiveQueue = 256;
// `link` (retained): whether the station is there.
constexpr char kOnline[] = "{\"online\":true}";
constexpr char kOffline[] = "{\"online\":false}";

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace


void TakeLessonIdentity(tStationSettings& settings) {
    // Kept under a digest of the code: the file tells nothing of it.
    const QString key = QStringLiteral("Lessons/") +
                        QString::fromLatin1(QCryptographicHash::hash(NormalizedCode(settings.Code).toUtf8(),
                                                                     QCryptographicHash::Sha256)
                                                .toHex()
                                                .left(24));
    QDir().mkpath(UserStateFolder());
    QSettings state(UserStateFile(QStringLiteral("class.ini")), QSettings::IniFormat);
    settings.Id = state.value(key + QStringLiteral("/Id")).toString();
    settings.Password = state.value(key + QStringLiteral("/Password")).toString();
    if (ValidStationId(settings.Id) && ParseJoinPayload(JoinPayload({settings.Password, QStringLiteral("-")})))
        return;
    // A new identity every lesson: no one can claim it before the station does.
    settings.Id = RandomCode(16);
    settings.Password = RandomCode(32);
    state.setValue(key + QStringLiteral("/Id"), settings.Id);
    state.setValue(key + QStringLiteral("/Password"), settings.Password);
}

namespace {

QString PinKey(const QString& address) {
    return QStringLiteral("Pins/") + QString::fromLatin1(address.toUtf8().toHex());
}

} // namespace

tTeacherPin PinTeacher(const QString& host, int port, bool trustNew) {
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(host, quint16(port));
    if (!socket.waitForEncrypted(10000) || socket.peerCertificate().isNull())
        throw Exception(QStringLiteral("Нет связи с учителем по адресу %1:%2 (%3).")
                            .arg(host)
                            .arg(port)
                            .arg(socket.errorString()));
    tTeacherPin pin;
    pin.Pem = socket.peerCertificate().toPem();
    socket.abort();
    pin.Fingerprint = CertificateFingerprint(pin.Pem);
    pin.Host = host;
    // Pinned for the host: a lesson on another port is the same teacher's computer. (Pins kept for an address
    // with its port before are read as well.)
    QSettings state(UserStateFile(QStringLiteral("class.ini")), QSettings::IniFormat);
    pin.Pinned = state.value(PinKey(host)).toString();
    if (pin.Pinned.isEmpty())
        pin.Pinned = state.value(PinKey(QStringLiteral("%1:%2").arg(host).arg(port))).toString();
    pin.First = pin.Pinned.isEmpty();
    if (pin.Changed() && trustNew)
        throw Exception(
            QStringLiteral(
                "Сертификат учителя по адресу %1 не тот, что был раньше.\r\nБыл: %2\r\nСейчас: %3\r\n"
                "Если учитель не менял компьютер, не подключайтесь.")
                .arg(host, pin.Pinned, pin.Fingerprint));
    if (!pin.First && !pin.Changed()) {
        KeepTeacherPin(pin);
    } else if (trustNew) {
        KeepTeacherPin(pin);
        pin.First = true;
    }
    return pin;
}

void KeepTeacherPin(tTeacherPin& pin) {
    QDir().mkpath(UserStateFolder());
    QSettings(UserStateFile(QStringLiteral("class.ini")), QSettings::IniFormat)
        .setValue(PinKey(pin.Host), pin.Fingerprint);
    pin.CaFile = UserStateFolder() + QStringLiteral("/teacher-") +
                 QString(pin.Fingerprint).remove(u':').left(16) + QStringLiteral(".pem");
    SetAsideUnusable(pin.CaFile);
    QFile file(pin.CaFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(pin.Pem) != pin.Pem.size())
        throw Exception(QStringLiteral("Невозможно записать файл \"%1\".").arg(pin.CaFile));
}

struct tStationLink::tShared {
    struct tMessage {
        QByteArray Topic;
        QByteArray Payload;
    };
    mosquitto* Client = nullptr;
    tStationSettings Settings;
    mutable std::mutex Lock;
    // The broker did not know the station's own client: it asks the teacher to join.
    std::atomic<bool> NeedJoin{false};
    QString Refusal;
    std::condition_variable Wake;
    bool Stopping = false;
    std::atomic<bool> Connected{false};
    std::atomic<bool> Accepted{false};
    // Tells the window's thread that the state changed.
    std::function<void()> Changed;
    std::atomic<int> State{int(tState::Connecting)};
    // Everything retained that was published: sent again after every connection; the topics still to send.
    std::map<QByteArray, QByteArray> Retained;
    std::set<QByteArray> Unsent;
    std::deque<tMessage> Live;
    long long Dropped = 0;
    std::thread Sender;
    std::thread Network;
    // Where the station says whether it is there: the broker says it for a station that vanished.
    QByteArray LinkTopic;
    // Whether the broker has acknowledged the last retained message handed over (its id, once known, and the
    // newest id acknowledged), so that a station leaving lets go only after what it sent has arrived.
    std::mutex AckLock;
    int LastMid = 0, LastAcked = 0;
    std::atomic<bool> Delivered{true};

    // libmosquitto's network loop on a thread of the link's own: whatever ends a connection (a broker gone, a
    // TLS error, a refused code), it is made again after a pause that doubles up to 5 s.
    void Run(const QByteArray& host, int port) {
        int pause = 500;
        // A keep-alive of 5 s: a broker that stalls is noticed within about 8.
        bool started = mosquitto_connect_async(Client, host.constData(), port, 5) == MOSQ_ERR_SUCCESS;
        while (!Stopping) {
            if (started && mosquitto_loop(Client, 100, 1) == MOSQ_ERR_SUCCESS) {
                if (Accepted.exchange(false)) Connect();
                if (Connected) pause = 500;
                continue;
            }
            if (NeedJoin.exchange(false)) {
                const int joined = Join(host, port);
                if (joined > 0) {
                    started = mosquitto_reconnect_async(Client) == MOSQ_ERR_SUCCESS;
                    continue;
                }
                if (joined < 0) {
                    std::unique_lock<std::mutex> guard(Lock);
                    State = int(tState::Refused);
                    guard.unlock();
                    Changed();
                    guard.lock();
                    Wake.wait(guard, [&] { return Stopping; });
                    break;
                }
            }
            {
                std::unique_lock<std::mutex> guard(Lock);
                Connected = false;
                Accepted = false;
                if (!Stopping && State == int(tState::Connected)) State = int(tState::Lost);
                Wake.wait_for(guard, std::chrono::milliseconds(pause), [&] { return Stopping; });
            }
            pause = std::min(pause * 2, 5000);
            if (!Stopping) started = mosquitto_reconnect_async(Client) == MOSQ_ERR_SUCCESS;
        }
        // Leaving: what was handed over reaches the broker (a second and a half at most), then the page is
        // told, and the broker let go cleanly (half a second at most).
        for (int i = 0; i < 30 && Connected && !Delivered; ++i) mosquitto_loop(Client, 50, 1);
        const bool there = Connected;
        if (there)
            mosquitto_publish(Client, nullptr, LinkTopic.constData(), int(std::strlen(kOffline)), kOffline, 0,
                              true);
        mosquitto_disconnect(Client);
        for (int i = 0; there && i < 10 && mosquitto_loop(Client, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }

    // Asks the teacher, with the station code, to take the station: 1 once taken, -1 when refused (the reason
    // in Refusal), 0 when the teacher did not answer in 10 s (asked again later).
    int Join(const QByteArray& host, int port) {
        struct tAsk {
            int Connack = -1;
            bool Subscribed = false;
            std::optional<QString> Answer;
        } ask;
        mosquitto* asker = mosquitto_new(nullptr, true, &ask);
        struct tDestroy {
            mosquitto* Client;
            ~tDestroy() { mosquitto_destroy(Client); }
        } destroy{asker};
        mosquitto_int_option(asker, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_username_pw_set(asker, kStationUser, NormalizedCode(Settings.Code).toUtf8().constData());
        if (!Settings.CaFile.isEmpty()) {
            mosquitto_tls_set(asker, QFile::encodeName(Settings.CaFile).constData(), nullptr, nullptr, nullptr,
                              nullptr);
            mosquitto_tls_insecure_set(asker, true);
        }
        mosquitto_connect_callback_set(asker, [](mosquitto*, void* a, int rc) { static_cast<tAsk*>(a)->Connack = rc; });
        mosquitto_subscribe_callback_set(asker, [](mosquitto*, void* a, int, int, const int*) {
            static_cast<tAsk*>(a)->Subscribed = true;
        });
        mosquitto_message_callback_set(asker, [](mosquitto*, void* a, const mosquitto_message* m) {
            static_cast<tAsk*>(a)->Answer =
                ParseJoinAnswer(QByteArray(static_cast<const char*>(m->payload), m->payloadlen));
        });
        if (mosquitto_connect(asker, host.constData(), port, 5) != MOSQ_ERR_SUCCESS) return 0;
        // Waits for `done` 10 s at most, while the link is not let go.
        const auto until = [&](auto done) {
            for (int i = 0; i < 100 && !Stopping && !done(); ++i)
                if (mosquitto_loop(asker, 100, 1) != MOSQ_ERR_SUCCESS) return false;
            return bool(done());
        };
        if (!until([&] { return ask.Connack >= 0; }) || ask.Connack != 0) {
            if (ask.Connack == 4 || ask.Connack == 5) {
                WriteLog(QStringLiteral("Class: the station code refused by the broker (%1)").arg(ask.Connack));
                std::lock_guard<std::mutex> guard(Lock);
                Refusal = QStringLiteral("код станции не подходит к этому уроку");
                return -1;
            }
            return 0;
        }
        const QByteArray answerTopic = RollTopic(Settings.Lesson, Settings.Id).toUtf8();
        mosquitto_subscribe(asker, nullptr, answerTopic.constData(), 1);
        if (!until([&] { return ask.Subscribed; })) return 0;
        const QByteArray topic = JoinTopic(Settings.Lesson, Settings.Id).toUtf8();
        const QByteArray request = JoinPayload({Settings.Password, Settings.Group});
        mosquitto_publish(asker, nullptr, topic.constData(), int(request.size()), request.constData(), 1, false);
        const bool answered = until([&] { return ask.Answer.has_value(); });
        mosquitto_disconnect(asker);
        if (!answered) return 0;
        if (ask.Answer->isEmpty()) return 1;
        std::lock_guard<std::mutex> guard(Lock);
        Refusal = *ask.Answer;
        return -1;
    }

    // The broker has accepted the connection, and libmosquitto has finished taking it (its connect callback
    // comes before that, and a message handed over meanwhile could wait in its queue for good): everything
    // retained is sent again.
    void Connect() {
        {
            std::lock_guard<std::mutex> guard(Lock);
            for (const auto& [topic, payload] : Retained) Unsent.insert(topic);
            Connected = true;
            State = int(tState::Connected);
        }
        Wake.notify_all();
        Changed();
    }

    void Send() {
        std::unique_lock<std::mutex> guard(Lock);
        for (;;) {
            Wake.wait(guard, [&] { return Stopping || (Connected && (!Unsent.empty() || !Live.empty())); });
            if (Stopping) return;
            std::vector<tMessage> retained;
            for (const QByteArray& topic : Unsent) retained.push_back({topic, Retained[topic]});
            Unsent.clear();
            if (!retained.empty()) {
                // Not delivered until the last of these is acknowledged: an acknowledgement of the batch
                // before that comes in meanwhile says nothing of this one.
                std::lock_guard<std::mutex> acks(AckLock);
                LastMid = -1;
                Delivered = false;
            }
            std::deque<tMessage> live;
            live.swap(Live);
            guard.unlock();
            Wake.notify_all();
            int mid = 0;
            for (const tMessage& m : retained)
                mosquitto_publish(Client, &mid, m.Topic.constData(), int(m.Payload.size()),
                                  m.Payload.constData(), 1, true);
            if (!retained.empty()) {
                std::lock_guard<std::mutex> acks(AckLock);
                LastMid = mid;
                if (LastAcked == mid) Delivered = true;
            }
            for (const tMessage& m : live)
                mosquitto_publish(Client, nullptr, m.Topic.constData(), int(m.Payload.size()),
                                  m.Payload.constData(), 0, false);
            guard.lock();
        }
    }
};

tStationLink::tStationLink(tLesson& lesson, tStationSettings settings, QObject* parent)
    : QObject(parent), FLesson(lesson), FSettings(std::move(settings)), FShared(std::make_shared<tShared>()) {
    InitLibrary();
    tShared& shared = *FShared;
    if (FSettings.Password.isEmpty()) FSettings.Password = RandomCode(32);
    shared.Settings = FSettings;
    // Its client id is its own secret (another client taking it would take the station's place); its user is
    // made by the teacher when it first asks to join.
    shared.Client = mosquitto_new(RandomCode(24).toUtf8().constData(), true, this);
    mosquitto_int_option(shared.Client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_username_pw_set(shared.Client, StationUser(FSettings.Id).toUtf8().constData(),
                              FSettings.Password.toUtf8().constData());
    // A station gone without a word (its computer off, the program killed) is said gone by the broker.
    shared.LinkTopic = StationTopic(FSettings.Lesson, FSettings.Id, QStringLiteral("link")).toUtf8();
    mosquitto_will_set(shared.Client, shared.LinkTopic.constData(), int(std::strlen(kOffline)), kOffline, 1,
                       true);
    mosquitto_threaded_set(shared.Client, true);
    shared.Changed = [this] {
        QMetaObject::invokeMethod(
            this, [this] { emit stateChanged(); }, Qt::QueuedConnection);
    };
    if (!FSettings.CaFile.isEmpty()) {
        // Only the pinned certificate is trusted; the teacher is known by it, not by an address's name.
        mosquitto_tls_set(shared.Client, QFile::encodeName(FSettings.CaFile).constData(), nullptr, nullptr,
                          nullptr, nullptr);
        mosquitto_tls_insecure_set(shared.Client, true);
    }
    // The callbacks run on libmosquitto's thread.
    mosquitto_connect_callback_set(shared.Client, [](mosquitto* client, void* self, int rc) {
        auto* link = static_cast<tStationLink*>(self);
        // Not known (yet): the station asks to join.
        if (rc == 4 || rc == 5) link->FShared->NeedJoin = true;
        if (rc != 0) return;
        link->FShared->Accepted = true;
        const QByteArray topic = TeacherTopic(link->FSettings.Lesson, QStringLiteral("#")).toUtf8();
        mosquitto_subscribe(client, nullptr, topic.constData(), 1);
    });
    mosquitto_disconnect_callback_set(shared.Client, [](mosquitto*, void* self, int) {
        auto* link = static_cast<tStationLink*>(self);
        tShared& s = *link->FShared;
        {
            std::lock_guard<std::mutex> guard(s.Lock);
            s.Connected = false;
            if (!s.Stopping && !s.NeedJoin && s.State != int(tState::Refused)) s.State = int(tState::Lost);
        }
        s.Wake.notify_all();
        s.Changed();
    });
    mosquitto_publish_callback_set(shared.Client, [](mosquitto*, void* self, int mid) {
        tShared& s = *static_cast<tStationLink*>(self)->FShared;
        std::lock_guard<std::mutex> acks(s.AckLock);
        s.LastAcked = mid;
        if (mid == s.LastMid) s.Delivered = true;
    });
    mosquitto_message_callback_set(shared.Client, [](mosquitto*, void* self,
                                                     const mosquitto_message* message) {
        auto* link = static_cast<tStationLink*>(self);
        const QString prefix = TeacherTopic(link->FSettings.Lesson);
        const QString topic = QString::fromUtf8(message->topic);
        if (!topic.startsWith(prefix)) return;
        QString error;
        const std::optional<tTeacherMessage> parsed = ParseTeacherMessage(
            topic.mid(prefix.size()),
            QByteArray(static_cast<const char*>(message->payload), message->payloadlen), &error);
        if (!parsed) {
            WriteLog(
                QStringLiteral("Класс: сообщение учителя пропущено (%1): %2").arg(topic.left(200), error));
            return;
        }
        QMetaObject::invokeMethod(
            link, [link, m = *parsed] { emit link->teacherMessage(m); }, Qt::QueuedConnection);
    });
    shared.Sender = std::thread([&shared] { shared.Send(); });
    shared.Network = std::thread(
        [&shared, host = FSettings.Host.toUtf8(), port = FSettings.Port] { shared.Run(host, port); });

    // What the lesson announces, queued.
    connect(&lesson, &tLesson::opened, this, [this] {
        SyncRuns();
        Queue(QStringLiteral("results"), ResultsPayload(FLesson), true);
        PublishState(true);
    });
    for (auto notice : {&tLesson::collectingChanged, &tLesson::sensorStateChanged})
        connect(&lesson, notice, this, [this] { PublishState(true); });
    connect(&lesson, &tLesson::runStarted, this, [this] { PublishState(true); });
    connect(&lesson, &tLesson::valueMeasured, this, [this] { PublishState(false); });
    connect(&lesson, &tLesson::pointsAppended, this, [this](int id, int from, int to) {
        const int run = FLesson.RunIndex(id);
        if (run < 0) return;
        const int number = PublishedRunNumber(FLesson, run);
        bool seeded = false;
        if (number != FSketchRun) {
            FSketch.Clear();
            FSketchRun = number;
            FSketchSent = 0;
            // Joined while the run goes on: its sketch begins with the run so far, from its start.
            if (from > 0) {
                FSketch.Add(SummaryPoints(*FLesson.Run(run).Points, 1000));
                seeded = true;
            }
        }
        std::vector<std::pair<double, double>> sent;
        for (const QByteArray& batch :
             LivePayloads(*FLesson.Run(run).Points, number, from, to, 0.05, 200, &sent))
            Queue(QStringLiteral("live"), batch, false);
        if (!seeded) FSketch.Add(sent);
        // The run so far, for a page that opens now: once its first points are there, then every few seconds.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now - FSketchSent >= 5000) PublishCurrent();
    });
    connect(&lesson, &tLesson::runEnded, this, [this](int id) {
        PublishRun(FLesson.RunIndex(id));
        // The run's summary takes the place of its sketch.
        FSketch.Clear();
        FSketchRun = -1;
        Queue(QStringLiteral("current"), QByteArray(), true);
        PublishState(true);
    });
    // Back after a lost link: the run so far at once, with what was measured while the broker was gone.
    connect(this, &tStationLink::stateChanged, this, [this] {
        if (State() == tState::Connected && FSketchRun >= 0) PublishCurrent();
    });
    connect(&lesson, &tLesson::runChanged, this, [this](int id) { PublishRun(FLesson.RunIndex(id)); });
    connect(&lesson, &tLesson::pointsChanged, this, [this](int id) { PublishRun(FLesson.RunIndex(id)); });
    connect(&lesson, &tLesson::runRemoved, this, [this] {
        SyncRuns();
        PublishState(true);
    });
    const auto results = [this] { Queue(QStringLiteral("results"), ResultsPayload(FLesson), true); };
    connect(&lesson, &tLesson::resultsChanged, this, results);
    connect(&lesson, &tLesson::resultAdded, this, results);
    connect(&lesson, &tLesson::resultRemoved, this, results);
    SyncRuns();
    Queue(QStringLiteral("results"), ResultsPayload(FLesson), true);
    PublishState(true);
    Queue(QStringLiteral("link"), QByteArray(kOnline), true);
}

tStationLink::~tStationLink() {
    tShared& shared = *FShared;
    {
        // What is queued is handed over first (two seconds at most while the broker is there).
        std::unique_lock<std::mutex> guard(shared.Lock);
        shared.Wake.wait_for(guard, std::chrono::seconds(2), [&] {
            return !shared.Connected || (shared.Unsent.empty() && shared.Live.empty());
        });
        shared.Stopping = true;
    }
    shared.Wake.notify_all();
    shared.Sender.join();
    shared.Network.join();
    mosquitto_destroy(shared.Client);
}

tStationLink::tState tStationLink::State() const {
    return tState(FShared->State.load());
}

QString tStationLink::Refusal() const {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    return FShared->Refusal;
}

long long tStationLink::Dropped() const {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    return FShared->Dropped;
}

int tStationLink::Pending() const {
    std::lock_guard<std::mutex> guard(FShared->Lock);
    return int(FShared->Unsent.size() + FShared->Live.size());
}

void tStationLink::Queue(const QString& what, const QByteArray& payload, bool retained) {
    const QByteArray topic = StationTopic(FSettings.Lesson, FSettings.Id, what).toUtf8();
    tShared& shared = *FShared;
    {
        std::lock_guard<std::mutex> guard(shared.Lock);
        if (retained) {
            // An empty payload takes a retained message away, after a reconnection too.
            shared.Retained[topic] = payload;
            shared.Unsent.insert(topic);
        } else {
            // Live points are of use only now: while the broker cannot take them, the oldest go.
            if (!shared.Connected) return;
            if (shared.Live.size() >= kLiveQueue) {
                shared.Live.pop_front();
                ++shared.Dropped;
            }
            shared.Live.push_back({topic, payload});
        }
    }
    shared.Wake.notify_all();
}

void tStationLink::PublishState(bool always) {
    // A new value alone is said at most five times a second.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!always && now - FStateSent < 200) return;
    FStateSent = now;
    Queue(QStringLiteral("state"), StatePayload(FLesson, FSettings.Group), true);
}

void tStationLink::PublishCurrent() {
    FSketchSent = QDateTime::currentMSecsSinceEpoch();
    Queue(QStringLiteral("current"), CurrentPayload(FSketchRun, FSketch), true);
}

void tStationLink::PublishRun(int run) {
    if (run < 0 || run >= FLesson.RunCount() || run == FLesson.Measured()) return;
    Queue(QStringLiteral("run/%1").arg(PublishedRunNumber(FLesson, run)), RunPayload(FLesson, run), true);
}

void tStationLink::SyncRuns() {
    // Runs gone (deleted, or another experiment opened) are taken off the broker; those there are, put on it.
    std::set<QByteArray> current;
    for (int run = 0; run < FLesson.RunCount(); ++run) {
        if (run == FLesson.Measured()) continue;
        current.insert(StationTopic(FSettings.Lesson, FSettings.Id,
                                    QStringLiteral("run/%1").arg(PublishedRunNumber(FLesson, run)))
                           .toUtf8());
        PublishRun(run);
    }
    const QByteArray prefix = StationTopic(FSettings.Lesson, FSettings.Id, QStringLiteral("run/")).toUtf8();
    std::vector<QByteArray> gone;
    {
        std::lock_guard<std::mutex> guard(FShared->Lock);
        for (const auto& [topic, payload] : FShared->Retained)
            if (topic.startsWith(prefix) && !payload.isEmpty() && !current.count(topic))
                gone.push_back(topic);
    }
    for (const QByteArray& topic : gone)
        Queue(QStringLiteral("run/") + QString::fromUtf8(topic.mid(prefix.size())), QByteArray(), true);
}

void SendToClass(int port, const QString& ca, const tLessonCodes& codes, const tTeacherMessage& message) {
    InitLibrary();
    mosquitto* client = mosquitto_new(nullptr, true, nullptr);
    struct tDestroy {
        mosquitto* Client;
        ~tDestroy() { mosquitto_destroy(Client); }
    } destroy{client};
    mosquitto_username_pw_set(client, kTeacherUser, codes.TeacherPassword.toUtf8().constData());
    mosquitto_tls_set(client, QFile::encodeName(ca).constData(), nullptr, nullptr, nullptr, nullptr);
    mosquitto_tls_insecure_set(client, true);
    const QByteArray topic = TeacherTopic(codes.Lesson, TeacherMessageTopic(message)).toUtf8();
    const QByteArray payload = TeacherPayload(message);
    int sent = -1;
    if (mosquitto_connect(client, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS &&
        mosquitto_publish(client, &sent, topic.constData(), int(payload.size()), payload.constData(), 1,
                          false) == MOSQ_ERR_SUCCESS) {
        // Until the broker has it (QoS 1 is acknowledged), 5 s at most.
        static thread_local int acknowledged = -2;
        acknowledged = -2;
        mosquitto_publish_callback_set(client, [](mosquitto*, void*, int mid) { acknowledged = mid; });
        for (int i = 0; i < 50 && acknowledged != sent; ++i)
            if (mosquitto_loop(client, 100, 1) != MOSQ_ERR_SUCCESS) break;
        mosquitto_disconnect(client);
        if (acknowledged == sent) return;
    }
    throw Exception(QStringLiteral("Сообщение классу не отправлено: сервер урока не отвечает."));
}

QString CataloguePath(const QString& experimentFolder) {
    QString path = QDir::cleanPath(experimentFolder);
    const qsizetype data = path.lastIndexOf(QStringLiteral("/data/"));
    return data >= 0 ? path.mid(data + 6) : QFileInfo(path).fileName();
}
