// The lesson in class on a real Mosquitto broker on 127.0.0.1, started with the configuration the program
// writes: stations publish their lessons, the access list holds each client to its own, a broker that goes
// away costs a station nothing, and what the teacher sends is checked before it is believed.
#include "analysis/Results.h"
#include "classroom/ClassRoll.h"
#include "classroom/Discovery.h"
#include "classroom/LessonBroker.h"
#include "classroom/Payloads.h"
#include "classroom/StationLink.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/TextCodec.h"
#include "lesson/Lesson.h"
#include "runs/PointSeries.h"
#include "sim/DemoWorld.h"
#include "support/DemoLessons.h"
#include "support/LessonSteps.h"
#include "support/MessageCollector.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <set>
#include <thread>

namespace {

// A client of the lesson that keeps the newest payload of every topic it hears.
class tListener {
public:
    tListener(int port, const char* user, const QString& password, const QString& topic, const QString& ca) {
        mosquitto_lib_init();
        FClient = mosquitto_new(nullptr, true, this);
        mosquitto_tls_set(FClient, ca.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_tls_insecure_set(FClient, true);
        mosquitto_username_pw_set(FClient, user, password.toUtf8().constData());
        mosquitto_message_callback_set(FClient, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* listener = static_cast<tListener*>(self);
            std::lock_guard<std::mutex> guard(listener->FLock);
            listener->FHeard[QString::fromUtf8(m->topic)] =
                QByteArray(static_cast<const char*>(m->payload), m->payloadlen);
            ++listener->FCount;
        });
        FTopic = topic.toUtf8();
        mosquitto_connect_callback_set(FClient, [](mosquitto* client, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(client, nullptr, static_cast<tListener*>(self)->FTopic.constData(), 1);
        });
        // A loop of its own that connects again after any error (libmosquitto's own thread ends for good on a
        // TLS error, which a loaded machine can give during the handshake).
        mosquitto_threaded_set(FClient, true);
        FLoop = std::thread([this, port] {
            bool started = mosquitto_connect_async(FClient, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS;
            while (!FStop) {
                if (started && mosquitto_loop(FClient, 100, 1) == MOSQ_ERR_SUCCESS) continue;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                started = mosquitto_reconnect_async(FClient) == MOSQ_ERR_SUCCESS;
            }
            mosquitto_disconnect(FClient);
        });
    }
    ~tListener() {
        FStop = true;
        FLoop.join();
        mosquitto_destroy(FClient);
    }
    QByteArray Heard(const QString& topic) const {
        std::lock_guard<std::mutex> guard(FLock);
        const auto found = FHeard.find(topic);
        return found == FHeard.end() ? QByteArray() : found->second;
    }
    std::map<QString, QByteArray> All() const {
        std::lock_guard<std::mutex> guard(FLock);
        return FHeard;
    }
    void Forget() {
        std::lock_guard<std::mutex> guard(FLock);
        FHeard.clear();
    }

private:
    mosquitto* FClient;
    std::atomic<bool> FStop{false};
    std::thread FLoop;
    QByteArray FTopic;
    mutable std::mutex FLock;
    std::map<QString, QByteArray> FHeard;
    long long FCount = 0;
};

tExperiment Cooling(int station) {
    tExperiment e = DemoCooling(600);
    e.Path = QStringLiteral("/catalogue/%1/").arg(station);
    return e;
}

// A station: its lesson, fed the demo vessel's cooling a value at a time, and its link.
struct tStation {
    tLesson Lesson;
    std::unique_ptr<tStationLink> Link;
    std::vector<double> Values;
    std::int64_t Fed = 0; // values, a tenth of a second apart
    // `seconds` more of the vessel cooling `speed` times faster than the demo's.
    void Measure(double seconds, double speed) {
        for (const std::int64_t end = Fed + std::llround(seconds * 10); Fed < end; ++Fed) {
            Values.push_back(CoolingSignal(double(Fed) * 0.1 * speed));
            Lesson.TakeRunValues(Values, false);
        }
    }
    void End() {
        Lesson.TakeRunValues(Values, true);
        Lesson.EndRun();
    }
};

class ClassroomTest : public testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")})
                .isEmpty())
            GTEST_SKIP() << "mosquitto missing";
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toLocal8Bit());
        qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toLocal8Bit());
        codes = NewLessonCodes();
        certificate = TeacherCertificate(dir.filePath(QStringLiteral("teacher")));
        ports.CertFile = certificate.CertFile;
        ports.KeyFile = certificate.KeyFile;
        ports.Mqtt = FreePort();
        ports.Bind = QStringLiteral("127.0.0.1");
        broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    }
    std::unique_ptr<tStation> Station(int n) {
        const tTeacherPin pin = PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt);
        EXPECT_EQ(pin.Fingerprint, certificate.Fingerprint);
        auto station = std::make_unique<tStation>();
        station->Lesson.Open(Cooling(n));
        station->Link = std::make_unique<tStationLink>(
            station->Lesson,
            tStationSettings{QStringLiteral("127.0.0.1"), ports.Mqtt, codes.Lesson, codes.StationCode,
                             QStringLiteral("st%1").arg(n), QStringLiteral("Группа %1").arg(n), pin.CaFile});
        return station;
    }
    QString Topic(int n, const QString& what) const {
        return StationTopic(codes.Lesson, QStringLiteral("st%1").arg(n), what);
    }
    // mosquitto_pub as `user` with `password` (none: anonymous) and client id `id`; its exit code.
    int Publish(const char* user, const QString& password, const QString& id, const QString& topic,
                const QString& message = QStringLiteral("{\"forged\":1}"), bool tls = true) {
        return Publish(user ? QString::fromLatin1(user) : QString(), password, id, topic, message, tls);
    }
    int Publish(const QString& user, const QString& password, const QString& id, const QString& topic,
                const QString& message = QStringLiteral("{\"forged\":1}"), bool tls = true,
                bool retained = true) {
        QStringList args{QStringLiteral("-h"),        QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                         QString::number(ports.Mqtt), QStringLiteral("-t"),        topic,
                         QStringLiteral("-q"),        QStringLiteral("1")};
        if (retained) args << QStringLiteral("-r");
        // A message longer than a command line's argument may be goes by a file.
        QTemporaryFile file;
        if (message.size() > 60000 && file.open()) {
            file.write(message.toUtf8());
            file.flush();
            args << QStringLiteral("-f") << file.fileName();
        } else {
            args << QStringLiteral("-m") << message;
        }
        if (!user.isEmpty()) args << QStringLiteral("-u") << user << QStringLiteral("-P") << password;
        if (!id.isEmpty()) args << QStringLiteral("-i") << id;
        if (tls) args << QStringLiteral("--cafile") << certificate.CertFile << QStringLiteral("--insecure");
        QProcess pub;
        pub.start(QStringLiteral("mosquitto_pub"), args);
        pub.waitForFinished(10000);
        return pub.exitCode();
    }

    // Station `n` ("st<n>", «Группа <n>») joined by hand, as a student's own client could: its password.
    QString Joined(int n) {
        const QString id = QStringLiteral("st%1").arg(n), password = QStringLiteral("pw-%1-0123456789abcdef").arg(n);
        const QString request =
            QString::fromUtf8(JoinPayload({password, QStringLiteral("Группа %1").arg(n)}));
        EXPECT_EQ(Publish(kStationUser, codes.StationCode, QString(), JoinTopic(codes.Lesson, id), request, true,
                          false),
                  0);
        EXPECT_TRUE(WaitUntil([&] { return InRoll(id); })) << id.toStdString();
        return password;
    }
    bool InRoll(const QString& id) const {
        for (const tRollStation& s : broker.Roll()->Stations())
            if (s.Id == id) return true;
        return false;
    }

    QTemporaryDir dir;
    tLessonCodes codes;
    tTeacherCertificate certificate;
    tBrokerPorts ports;
    tLessonBroker broker;
};

} // namespace

// Fifteen stations measure and fit their cooling; a teacher's client sees every station's run as the
// summary of its points, its results as the work keeps them, and its state.
TEST_F(ClassroomTest, FifteenStationsPublishTheirRunsAndResults) {
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    std::vector<std::unique_ptr<tStation>> stations;
    for (int n = 1; n <= 15; ++n) stations.push_back(Station(n));
    for (auto& station : stations) {
        station->Lesson.BeginRun(0);
        // Each group's vessel cools at its own pace: 600 s of it in 60 s of the lesson's clock and more.
        station->Measure(60, 10 + double(&station - &stations[0]));
        station->End();
        Analyse(station->Lesson, tAnalysisKind::Fit, tFitModel::ExpApproach, 0, 600);
    }
    ASSERT_TRUE(WaitUntil([&] {
        for (int n = 1; n <= 15; ++n)
            if (teacher.Heard(Topic(n, QStringLiteral("results"))).count("ExpApproach") == 0 ||
                teacher.Heard(Topic(n, QStringLiteral("run/1"))).isEmpty() ||
                !teacher.Heard(Topic(n, QStringLiteral("state"))).contains("idle"))
                return false;
        return true;
    })) << teacher.All().size() << broker.Log().toStdString();
    for (int n = 1; n <= 15; ++n) {
        SCOPED_TRACE(n);
        const tLesson& lesson = stations[std::size_t(n - 1)]->Lesson;
        const QJsonObject run =
            QJsonDocument::fromJson(teacher.Heard(Topic(n, QStringLiteral("run/1")))).object();
        const std::vector<std::pair<double, double>> summary = SummaryPoints(*lesson.Run(0).Points, kRunSummaryPoints);
        ASSERT_EQ(run.value(QStringLiteral("x")).toArray().size(), qsizetype(summary.size()));
        EXPECT_EQ(run.value(QStringLiteral("points")).toInt(), lesson.Run(0).Points->Count());
        EXPECT_EQ(run.value(QStringLiteral("name")).toString(), QStringLiteral("Опыт 1"));
        for (std::size_t i = 0; i < summary.size(); i += 97) {
            EXPECT_EQ(run.value(QStringLiteral("x")).toArray()[qsizetype(i)].toDouble(), summary[i].first);
            EXPECT_EQ(run.value(QStringLiteral("y")).toArray()[qsizetype(i)].toDouble(), summary[i].second);
        }
        const QJsonObject results =
            QJsonDocument::fromJson(teacher.Heard(Topic(n, QStringLiteral("results")))).object();
        EXPECT_EQ(results.value(QStringLiteral("lines")).toArray().first().toString(),
                  EncodeResult(lesson.Result(0), lesson.ResultBox(0)));
        const QJsonObject state =
            QJsonDocument::fromJson(teacher.Heard(Topic(n, QStringLiteral("state")))).object();
        EXPECT_EQ(state.value(QStringLiteral("group")).toString(), QStringLiteral("Группа %1").arg(n));
        EXPECT_EQ(state.value(QStringLiteral("collecting")).toString(), QStringLiteral("idle"));
        EXPECT_EQ(state.value(QStringLiteral("runs")).toInt(), 1);
    }
}

// Each client is held to its own: a station writes under its own id alone, the station code only asks to join,
// a viewer writes nothing; a wrong code or password and no code are refused; the teacher is heard.
TEST_F(ClassroomTest, TheAccessListHoldsEveryClientToItsOwn) {
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    const QString root = QStringLiteral("zorbinka/") + codes.Lesson;
    const QString own = Joined(1), st1 = StationUser(QStringLiteral("st1"));
    const QString station = QString::fromLatin1(kStationUser), viewer = QString::fromLatin1(kViewerUser);
    const struct {
        QString user;
        QString password;
        QString id;
        QString topic;
        bool heard;
        bool connects;
    } rows[] = {
        {st1, own, QString(), root + QStringLiteral("/station/st1/state"), true, true},
        {st1, own, QString(), root + QStringLiteral("/station/st2/state"), false, true},
        {st1, own, QString(), root + QStringLiteral("/teacher/offer"), false, true},
        {st1, own, QString(), root + QStringLiteral("/roll"), false, true},
        {st1, QStringLiteral("not-its-password-0"), QString(), root + QStringLiteral("/station/st1/results"), false,
         false},
        // The station code with a station's id as its client id: nothing written, and no one put out.
        {station, codes.StationCode, QStringLiteral("st1"), root + QStringLiteral("/station/st1/link"), false, true},
        {station, codes.StationCode, QString(), root + QStringLiteral("/station/st3/state"), false, true},
        {station, codes.StationCode, QString(), root + QStringLiteral("/teacher/offer"), false, true},
        {viewer, codes.ViewerCode, QStringLiteral("v1"), root + QStringLiteral("/station/v1/state"), false, true},
        {viewer, codes.ViewerCode, QStringLiteral("v1"), root + QStringLiteral("/viewer/v1/x"), false, true},
        {viewer, codes.ViewerCode, QStringLiteral("v1"), root + QStringLiteral("/teacher/message"), false, true},
        {station, QStringLiteral("WRONG1"), QStringLiteral("st3"), root + QStringLiteral("/station/st3/state"),
         false, false},
        {viewer, codes.StationCode, QStringLiteral("v2"), root + QStringLiteral("/station/v2/state"), false,
         false},
        {QString(), QString(), QStringLiteral("st4"), root + QStringLiteral("/station/st4/state"), false, false},
        {QString::fromLatin1(kTeacherUser), codes.TeacherPassword, QString(), root + QStringLiteral("/teacher/message"),
         true, true},
    };
    const auto payload = [&](const auto& row) { return QStringLiteral("{\"row\":%1}").arg(&row - rows); };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.topic.toStdString() + " as " + row.user.toStdString());
        EXPECT_EQ(Publish(row.user, row.password, row.id, row.topic, payload(row)) == 0, row.connects);
    }
    // Without TLS the right code does not even connect.
    EXPECT_NE(Publish(kStationUser, codes.StationCode, QStringLiteral("st5"),
                      root + QStringLiteral("/station/st5/state"), QStringLiteral("{}"), false),
              0);
    // The heard ones arrive; by then a refused one would have too.
    ASSERT_TRUE(
        WaitUntil([&] { return !teacher.Heard(root + QStringLiteral("/teacher/message")).isEmpty(); }));
    ASSERT_TRUE(
        WaitUntil([&] { return !teacher.Heard(root + QStringLiteral("/station/st1/state")).isEmpty(); }));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.topic.toStdString());
        EXPECT_EQ(teacher.Heard(row.topic) == payload(row).toUtf8(), row.heard);
    }
    // The teacher's certificate is pinned on the first join and shown; another one later is refused.
    const tTeacherPin first = PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt);
    EXPECT_TRUE(first.First);
    EXPECT_EQ(first.Fingerprint.size(), 32 * 3 - 1);
    EXPECT_FALSE(PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt).First);
    broker.Stop();
    const tTeacherCertificate other = TeacherCertificate(dir.filePath(QStringLiteral("another")));
    ports.CertFile = other.CertFile;
    ports.KeyFile = other.KeyFile;
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    try {
        PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt);
        ADD_FAILURE() << "another certificate taken";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(first.Fingerprint)) << e.Message().toStdString();
    }
    // Asked rather than refused: the new one is told with the old, and kept once the user accepts it; the pin
    // holds for the host on any port.
    tTeacherPin changed = PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt, false);
    EXPECT_TRUE(changed.Changed());
    EXPECT_FALSE(changed.First);
    EXPECT_EQ(changed.Pinned, first.Fingerprint);
    EXPECT_EQ(changed.Fingerprint, other.Fingerprint);
    EXPECT_TRUE(PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt, false).Changed())
        << "nothing kept unasked";
    KeepTeacherPin(changed);
    const tTeacherPin accepted = PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt);
    EXPECT_FALSE(accepted.First || accepted.Changed());
    EXPECT_TRUE(QFile::exists(accepted.CaFile));
    broker.Stop();
    ports.Mqtt = FreePort();
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    const tTeacherPin moved = PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt, false);
    EXPECT_FALSE(moved.First || moved.Changed()) << "another port of the same computer";
}

// The broker killed in the middle of a run and started again: the station records every value meanwhile, and
// the broker has its state, runs and results again soon after; junk from the teacher is skipped, an offer
// heard.
TEST_F(ClassroomTest, ABrokerThatGoesAwayCostsAStationNothing) {
    auto station = Station(1);
    std::vector<tTeacherMessage> told;
    QObject::connect(station->Link.get(), &tStationLink::teacherMessage,
                     [&](const tTeacherMessage& m) { told.push_back(m); });
    ASSERT_TRUE(WaitUntil([&] { return station->Link->State() == tStationLink::tState::Connected; }));
    station->Lesson.BeginRun(0);
    station->Measure(30, 10);
    station->End();
    station->Lesson.BeginRun(0);
    const std::int64_t before = station->Fed;
    station->Measure(5, 10);
    broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return station->Link->State() == tStationLink::tState::Lost; }));
    station->Measure(25, 10);
    station->End();
    EXPECT_EQ(station->Lesson.Run(1).Points->Count() * 10, station->Fed - before)
        << "every value kept while the broker is gone";
    Analyse(station->Lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 30);
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !teacher.Heard(Topic(1, QStringLiteral("run/2"))).isEmpty() &&
                   !teacher.Heard(Topic(1, QStringLiteral("run/1"))).isEmpty() &&
                   teacher.Heard(Topic(1, QStringLiteral("results"))).contains("Statistics");
        },
        15000))
        << int(station->Link->State()) << " heard " << teacher.All().size() << broker.Log().toStdString();
    std::printf("broker restarted: the teacher's side whole again after %lld ms\n", qint64(back.elapsed()));
    EXPECT_EQ(QJsonDocument::fromJson(teacher.Heard(Topic(1, QStringLiteral("run/2"))))
                  .object()
                  .value(QStringLiteral("points"))
                  .toInt(),
              station->Lesson.Run(1).Points->Count());
    // What the teacher sends: junk skipped, an offer and a line heard.
    const QString root = QStringLiteral("zorbinka/") + codes.Lesson + QStringLiteral("/teacher/");
    for (const auto& [what, payload] : std::vector<std::pair<QString, QByteArray>>{
             {QStringLiteral("offer"), "not json"},
             {QStringLiteral("offer"), "{\"experiment\":17}"},
             {QStringLiteral("other"), "{}"},
             {QStringLiteral("offer"), QByteArray(70000, '{')},
             {QStringLiteral("offer"), "{\"experiment\":\"../../etc/passwd\"}"},
             {QStringLiteral("offer"), "{\"experiment\":\"/etc/passwd\"}"},
             {QStringLiteral("offer"), "{\"experiment\":\"Физика/Остывание\"}"},
             {QStringLiteral("message"), "{\"text\":\"Начинаем\"}"},
             {QStringLiteral("end"), "{}"}}) {
        QProcess pub;
        pub.start(QStringLiteral("mosquitto_pub"),
                  {QStringLiteral("-p"), QString::number(ports.Mqtt), QStringLiteral("-u"),
                   QString::fromLatin1(kTeacherUser), QStringLiteral("-P"), codes.TeacherPassword,
                   QStringLiteral("--cafile"), certificate.CertFile, QStringLiteral("--insecure"),
                   QStringLiteral("-t"), root + what, QStringLiteral("-m"), QString::fromUtf8(payload)});
        pub.waitForFinished(10000);
    }
    ASSERT_TRUE(WaitUntil([&] { return told.size() >= 3; }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[0].Experiment, QStringLiteral("Физика/Остывание"));
    EXPECT_EQ(told[1].Text, QStringLiteral("Начинаем"));
    EXPECT_EQ(told[2].Kind, tTeacherMessage::tKind::End) << "the lesson's end told";

    // A run under way when the broker comes back is there from its start, with what was measured meanwhile;
    // once it ends, its summary takes the sketch's place.
    station->Lesson.BeginRun(0);
    station->Measure(5, 10);
    broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return station->Link->State() == tStationLink::tState::Lost; }));
    station->Measure(5, 10);
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    tListener again(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                    QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    const tPointSeries& third = *station->Lesson.Run(2).Points;
    const auto current = [&] {
        return QJsonDocument::fromJson(again.Heard(Topic(1, QStringLiteral("current")))).object();
    };
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QJsonArray x = current().value(QStringLiteral("x")).toArray();
            return !x.isEmpty() && x.last().toDouble() == third.X(third.Count() - 1);
        },
        15000));
    EXPECT_EQ(current().value(QStringLiteral("run")).toInt(), 3);
    EXPECT_EQ(current().value(QStringLiteral("x")).toArray().first().toDouble(), third.X(0));
    // The run ended and the lesson left at once: the run still reaches the broker before the station says it
    // has gone.
    EXPECT_TRUE(WaitUntil(
        [&] { return again.Heard(Topic(1, QStringLiteral("link"))) == QByteArray("{\"online\":true}"); }));
    station->End();
    station->Link.reset();
    EXPECT_TRUE(WaitUntil([&] {
        return again.Heard(Topic(1, QStringLiteral("current"))).isEmpty() &&
               !again.Heard(Topic(1, QStringLiteral("run/3"))).isEmpty() &&
               again.Heard(Topic(1, QStringLiteral("link"))) == QByteArray("{\"online\":false}");
    })) << "current "
        << again.Heard(Topic(1, QStringLiteral("current"))).left(80).toStdString() << ", run/3 "
        << again.Heard(Topic(1, QStringLiteral("run/3"))).left(80).toStdString() << ", link "
        << again.Heard(Topic(1, QStringLiteral("link"))).toStdString();
}

// A broker killed (or crashed), or stalled, is started again by itself on the same port with the same codes:
// the station comes back without a new code, and the teacher's side hears it again.
TEST_F(ClassroomTest, ABrokerKilledComesBackWithTheSameCodes) {
    auto station = Station(1);
    ASSERT_TRUE(WaitUntil([&] { return station->Link->State() == tStationLink::tState::Connected; }));
    const qint64 first = broker.ProcessId();
    ASSERT_GT(first, 0);
    ::kill(pid_t(first), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return station->Link->State() == tStationLink::tState::Lost; }));
    // Started again: another process, on the same port, taking the same codes.
    ASSERT_TRUE(WaitUntil([&] { return broker.Running() && broker.ProcessId() != first; }, 20000));
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    ASSERT_TRUE(WaitUntil([&] { return station->Link->State() == tStationLink::tState::Connected; }, 20000));
    ASSERT_TRUE(WaitUntil([&] { return !teacher.Heard(Topic(1, QStringLiteral("state"))).isEmpty(); }, 20000))
        << broker.Log().toStdString();
    // A broker stalled (stopped by a signal) is killed and started again: the station is back by itself.
    const qint64 second = broker.ProcessId();
    ::kill(pid_t(second), SIGSTOP);
    ASSERT_TRUE(WaitUntil([&] { return broker.Running() && broker.ProcessId() != second; }, 20000));
    teacher.Forget();
    ASSERT_TRUE(WaitUntil([&] { return !teacher.Heard(Topic(1, QStringLiteral("state"))).isEmpty(); }, 30000))
        << int(station->Link->State());
    // Stopped on purpose, it stays stopped.
    broker.Stop();
    EXPECT_FALSE(WaitUntil([&] { return broker.Running(); }, 1500)) << "started again after a stop";
}

// A station that joins (or joins again) while a run goes on shows the run from its start, not from the join.
TEST_F(ClassroomTest, AStationJoiningMidRunShowsTheRunFromItsStart) {
    tStation station;
    station.Lesson.Open(Cooling(1));
    station.Lesson.BeginRun(0);
    station.Measure(60, 10);
    const tPointSeries& points = *station.Lesson.Run(station.Lesson.Measured()).Points;
    ASSERT_GT(points.Count(), 1);
    const double joined = points.X(points.Count() - 1);
    const tTeacherPin pin = PinTeacher(QStringLiteral("127.0.0.1"), ports.Mqtt);
    station.Link = std::make_unique<tStationLink>(
        station.Lesson,
        tStationSettings{QStringLiteral("127.0.0.1"), ports.Mqtt, codes.Lesson, codes.StationCode,
                         QStringLiteral("st1"), QStringLiteral("Группа 1"), pin.CaFile});
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    ASSERT_TRUE(WaitUntil([&] { return station.Link->State() == tStationLink::tState::Connected; }));
    station.Measure(1, 10);
    ASSERT_TRUE(WaitUntil([&] { return !teacher.Heard(Topic(1, QStringLiteral("current"))).isEmpty(); }));
    const QJsonObject current =
        QJsonDocument::fromJson(teacher.Heard(Topic(1, QStringLiteral("current")))).object();
    const QJsonArray x = current.value(QStringLiteral("x")).toArray();
    ASSERT_FALSE(x.isEmpty());
    EXPECT_EQ(x.first().toDouble(), points.X(0)) << "from the run's start";
    EXPECT_GE(x.last().toDouble(), joined) << "up to the join";
    EXPECT_LE(x.size(), 2000);
}

// What a student with the station code tries against the others: each attempt refused or harmless. A claim
// of a station's id, a group's name taken (in another case), a client taking a station's id as its client id,
// a retained request to join: refused, the stations staying connected all along. A station the teacher
// removes is disconnected, taken off the page's topics, and cannot come back. A viewer never sees a password.
TEST_F(ClassroomTest, NoStudentCanPoseAsAnotherStation) {
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    tListener viewer(ports.Mqtt, kViewerUser, codes.ViewerCode, QStringLiteral("zorbinka/%1/#").arg(codes.Lesson),
                     certificate.CertFile);
    std::unique_ptr<tStation> one = Station(1), two = Station(2);
    ASSERT_TRUE(WaitUntil([&] {
        return one->Link->State() == tStationLink::tState::Connected &&
               two->Link->State() == tStationLink::tState::Connected &&
               !teacher.Heard(Topic(2, QStringLiteral("state"))).isEmpty();
    }));
    int lost = 0;
    QObject::connect(one->Link.get(), &tStationLink::stateChanged, [&] {
        lost += one->Link->State() != tStationLink::tState::Connected;
    });
    const QString station = QString::fromLatin1(kStationUser);
    const auto ask = [&](const QString& id, const QString& group, bool retained = false) {
        return Publish(station, codes.StationCode, id, JoinTopic(codes.Lesson, id),
                       QString::fromUtf8(JoinPayload({QStringLiteral("a-password-of-16+"), group})), true,
                       retained);
    };
    const struct {
        QString id, group;
        const char* refusal; // the answer's beginning, none when nothing is answered
        bool retained = false;
    } rows[] = {
        {QStringLiteral("st1"), QStringLiteral("Группа 9"), "станция с этим номером уже есть"},
        {QStringLiteral("st8"), QStringLiteral("гРУППА 2"), "группа «гРУППА 2» уже есть"},
        {QStringLiteral("st9"), QStringLiteral("Группа 9"), "", true},
        {QStringLiteral("s/1"), QStringLiteral("Группа 10"), nullptr},
        {QStringLiteral("st10"), QString(), "учитель не понял"},
    };
    tListener answers(ports.Mqtt, kTeacherUser, codes.TeacherPassword, RollTopic(codes.Lesson, QStringLiteral("+")),
                      certificate.CertFile);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id.toStdString());
        answers.Forget();
        EXPECT_EQ(ask(row.id, row.group, row.retained), 0);
        if (row.refusal) {
            ASSERT_TRUE(WaitUntil([&] { return !answers.Heard(RollTopic(codes.Lesson, row.id)).isEmpty(); }));
            const QString answer =
                ParseJoinAnswer(answers.Heard(RollTopic(codes.Lesson, row.id))).value_or(QStringLiteral("?"));
            EXPECT_TRUE(*row.refusal ? answer.startsWith(QString::fromUtf8(row.refusal)) : answer.isEmpty())
                << answer.toStdString();
        }
    }
    // The station code taking station 1's id as its client id puts no one out.
    EXPECT_EQ(Publish(station, codes.StationCode, QStringLiteral("st1"), JoinTopic(codes.Lesson, QStringLiteral("st1")),
                      QStringLiteral("{}"), true, false),
              0);
    // A station joined by hand after all that is heard, so everything before has been handled.
    Joined(3);
    EXPECT_EQ(broker.Roll()->Stations().size(), 4u);
    // A request is not left on the broker for the next to read.
    tListener later(ports.Mqtt, kTeacherUser, codes.TeacherPassword, QStringLiteral("zorbinka/%1/#").arg(codes.Lesson),
                    certificate.CertFile);
    ASSERT_TRUE(WaitUntil([&] { return !later.Heard(RollTopic(codes.Lesson)).isEmpty(); }));
    for (const auto& [topic, payload] : later.All()) EXPECT_FALSE(topic.contains(QStringLiteral("/join/")));
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(one->Link->State(), tStationLink::tState::Connected);
    // The teacher removes station 2: disconnected at once, told why, its tile's topics emptied; asking again
    // is refused.
    broker.Roll()->Remove(QStringLiteral("st2"));
    ASSERT_TRUE(WaitUntil([&] { return two->Link->State() == tStationLink::tState::Refused; }));
    EXPECT_TRUE(two->Link->Refusal().contains(QStringLiteral("убрал"))) << two->Link->Refusal().toStdString();
    ASSERT_TRUE(WaitUntil([&] {
        return teacher.Heard(Topic(2, QStringLiteral("state"))).isEmpty() &&
               teacher.Heard(Topic(2, QStringLiteral("link"))).isEmpty();
    }));
    const QJsonObject roll =
        QJsonDocument::fromJson(teacher.Heard(RollTopic(codes.Lesson))).object().value(QStringLiteral("groups")).toObject();
    EXPECT_EQ(roll.keys(), (QStringList{QStringLiteral("st1"), QStringLiteral("st3"), QStringLiteral("st9")}));
    EXPECT_EQ(roll.value(QStringLiteral("st1")).toString(), QStringLiteral("Группа 1"));
    // No password reaches a viewer, though every request went by.
    for (const auto& [topic, payload] : viewer.All()) {
        EXPECT_FALSE(topic.contains(QStringLiteral("/join/"))) << topic.toStdString();
        EXPECT_FALSE(payload.contains("password")) << topic.toStdString();
    }
    EXPECT_FALSE(viewer.Heard(RollTopic(codes.Lesson)).isEmpty());
}

// A broker whose program ended without ending it (a crash faster than the signal it leaves) is found by the
// next lesson begun and ended; a broker of a program still running, and a pid file naming something else, are
// left alone.
TEST(ClassroomBroker, ABrokerLeftByAnEndedProgramIsEndedAtTheNextStart) {
    if (QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")}).isEmpty())
        GTEST_SKIP() << "mosquitto missing";
    QTemporaryDir runtime;
    const QString me = QString::fromLocal8Bit(qgetenv("USER").isEmpty() ? "root" : qgetenv("USER"));
    // A broker in the folder of the program `owner`: daemonized (its parent gone), or a child of ours.
    const auto broker = [&](qint64 owner, bool daemon, QProcess* child) {
        const QString folder = runtime.filePath(QStringLiteral("zorbinka-lesson-%1").arg(owner));
        QDir().mkpath(folder);
        QFile config(folder + QStringLiteral("/mosquitto.conf"));
        EXPECT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("listener %1 127.0.0.1\npid_file %2/mosquitto.pid\nuser %3\n")
                         .arg(FreePort())
                         .arg(folder, me)
                         .toUtf8());
        config.close();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")});
        if (daemon)
            EXPECT_EQ(QProcess::execute(program, {QStringLiteral("-c"), config.fileName(), QStringLiteral("-d")}), 0);
        else
            child->start(program, {QStringLiteral("-c"), config.fileName()});
        EXPECT_TRUE(WaitUntil([&] { return QFile(folder + QStringLiteral("/mosquitto.pid")).size() > 0; }));
        QFile pid(folder + QStringLiteral("/mosquitto.pid"));
        pid.open(QIODevice::ReadOnly);
        return pid.readAll().trimmed().toLongLong();
    };
    QProcess child;
    const qint64 orphan = broker(4194000, true, nullptr);
    const qint64 ours = broker(QCoreApplication::applicationPid(), false, &child);
    // A pid file naming this test: not a broker of that folder.
    QDir().mkpath(runtime.filePath(QStringLiteral("zorbinka-lesson-4194001")));
    QFile other(runtime.filePath(QStringLiteral("zorbinka-lesson-4194001/mosquitto.pid")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray::number(QCoreApplication::applicationPid()));
    other.close();
    ASSERT_GT(orphan, 1);
    ASSERT_GT(ours, 1);
    EXPECT_EQ(EndOrphanBrokers(runtime.path()), 1);
    // Gone, or a zombie where nothing reaps what was handed on.
    EXPECT_TRUE(WaitUntil([&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(orphan));
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    }));
    EXPECT_EQ(child.state(), QProcess::Running);
    child.terminate();
    child.waitForFinished(5000);
}

// The page's port takes the viewer alone: the station code and the teacher's password are refused there, so
// that a code tried from a browser is tried where it cannot write.
TEST_F(ClassroomTest, ThePagesPortTakesTheViewerAlone) {
    if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty() ||
        !QFileInfo::exists(QStringLiteral(PAGE_MODULES "/mqtt")))
        GTEST_SKIP() << "node or mqtt.js missing";
    broker.Stop();
    ports.WebSockets = FreePort();
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    const QString script =
        QFileInfo(QStringLiteral(CHECK_PAGE)).dir().filePath(QStringLiteral("check_login.cjs"));
    const struct {
        const char* user;
        QString password;
        const char* said;
    } rows[] = {
        {kViewerUser, codes.ViewerCode, "connected"},
        {kStationUser, codes.StationCode, "refused"},
        {kTeacherUser, codes.TeacherPassword, "refused"},
        {kViewerUser, codes.StationCode, "refused"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.user);
        QProcess node;
        node.start(QStringLiteral("node"), {script, QStringLiteral(PAGE_MODULES),
                                            QStringLiteral("ws://127.0.0.1:%1/").arg(ports.WebSockets),
                                            QString::fromLatin1(row.user), row.password});
        ASSERT_TRUE(node.waitForFinished(60000));
        EXPECT_EQ(node.readAllStandardOutput().trimmed().split('\n').value(0), QByteArray(row.said))
            << node.readAllStandardError().toStdString();
    }
}

// The broker refuses what no station sends: a message over the bound is not passed on and its sender is
// disconnected; the broker goes on, and the next message of the same station is heard.
TEST_F(ClassroomTest, TheBrokerRefusesAMessageNoStationSends) {
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    const QString big(kMaxPacketBytes + 1, u'a');
    const QString password = Joined(1), user = StationUser(QStringLiteral("st1"));
    EXPECT_NE(Publish(user, password, QString(), Topic(1, QStringLiteral("results")), big), 0);
    EXPECT_EQ(Publish(user, password, QString(), Topic(1, QStringLiteral("state")),
                      QStringLiteral("{\"group\":\"Группа 1\"}")),
              0);
    ASSERT_TRUE(WaitUntil([&] { return !teacher.Heard(Topic(1, QStringLiteral("state"))).isEmpty(); }));
    EXPECT_TRUE(teacher.Heard(Topic(1, QStringLiteral("results"))).isEmpty());
    // The teacher's log says when the broker starts and stops, and where.
    const QString path = dir.filePath(QStringLiteral("zorbinka.log"));
    SetCommandLine({QStringLiteral("zorbinka"), QStringLiteral("/log")});
    LogFile = new tLogFile(path);
    broker.Stop();
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    delete LogFile;
    LogFile = nullptr;
    SetCommandLine({QStringLiteral("zorbinka")});
    const QString log = QString::fromUtf8(ReadFile(path));
    EXPECT_TRUE(log.contains(QStringLiteral("Lesson broker stopped: pid "))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Lesson broker started: pid ")) &&
                log.contains(QStringLiteral(", port %1, folder ").arg(ports.Mqtt)))
        << log.toStdString();
}

// A station that vanishes without a word (its program killed) is said gone by the broker.
TEST_F(ClassroomTest, AStationThatVanishesIsSaidGone) {
    tListener teacher(ports.Mqtt, kTeacherUser, codes.TeacherPassword,
                      QStringLiteral("zorbinka/%1/#").arg(codes.Lesson), certificate.CertFile);
    QProcess station;
    station.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zorbinka_stations"),
                  {QStringLiteral("127.0.0.1:%1").arg(ports.Mqtt), codes.StationCode, QStringLiteral("1")});
    ASSERT_TRUE(station.waitForStarted());
    const QString link = StationTopic(codes.Lesson, QStringLiteral("station1"), QStringLiteral("link"));
    ASSERT_TRUE(WaitUntil([&] { return teacher.Heard(link) == QByteArray("{\"online\":true}"); }, 20000))
        << station.readAllStandardError().toStdString();
    station.kill();
    station.waitForFinished();
    EXPECT_TRUE(WaitUntil([&] { return teacher.Heard(link) == QByteArray("{\"online\":false}"); }, 20000));
}

// The sketch of a run being recorded stays small however long the run, spans it from its first point to its
// last in x order, and keeps its lowest and highest values.
TEST(ClassroomPayloads, TheSketchOfARunStaysSmallAndKeepsItsShape) {
    const struct {
        int points, batch, limit;
    } rows[] = {{10, 3, 1000},      {1999, 10, 1000},  {2000, 10, 1000},
                {200000, 10, 1000}, {1000000, 7, 500}, {50000, 1, 4}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.points);
        tRunSketch sketch(row.limit);
        std::vector<std::pair<double, double>> batch;
        double low = 1e300, high = -1e300;
        std::size_t largest = 0;
        for (int i = 0; i < row.points; ++i) {
            const double y =
                std::sin(i * 0.001) + (i == row.points / 3 ? 5 : 0) - (i == row.points / 2 ? 5 : 0);
            low = std::min(low, y);
            high = std::max(high, y);
            batch.emplace_back(i * 0.001, y);
            if (int(batch.size()) == row.batch || i + 1 == row.points) {
                sketch.Add(batch);
                batch.clear();
                largest = std::max(largest, sketch.Points().size());
            }
        }
        const auto& kept = sketch.Points();
        EXPECT_LT(largest, std::size_t(2 * row.limit + row.batch + 2));
        EXPECT_EQ(kept.front().first, 0);
        EXPECT_EQ(kept.back().first, (row.points - 1) * 0.001);
        EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()));
        const auto [lowest, highest] = std::minmax_element(
            kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        EXPECT_EQ(lowest->second, low);
        EXPECT_EQ(highest->second, high);
    }
}

// Live batches span at most 50 ms and carry at most 200 points a second, keeping each batch's extremes.
// A station code: the lesson's name and 8 characters of its own, all drawn at random; typed in any case, with
// or without the dashes that group it.
TEST(ClassroomCodes, AStationCodeTellsNothingButTheLessonsName) {
    const struct {
        const char* typed;
        const char* normal;
        const char* grouped;
        const char* lesson;
    } rows[] = {
        {"K7PQX3MZ9TRW", "K7PQX3MZ9TRW", "K7PQ-X3MZ-9TRW", "k7pq"},
        {"k7pq-x3mz-9trw", "K7PQX3MZ9TRW", "K7PQ-X3MZ-9TRW", "k7pq"},
        {" K7PQ X3MZ 9TRW\n", "K7PQX3MZ9TRW", "K7PQ-X3MZ-9TRW", "k7pq"},
        {"AB", "AB", "AB", "ab"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        const QString normal = NormalizedCode(QString::fromUtf8(row.typed));
        EXPECT_EQ(normal, QString::fromLatin1(row.normal));
        EXPECT_EQ(GroupedCode(normal), QString::fromLatin1(row.grouped));
        EXPECT_EQ(LessonOfCode(QString::fromUtf8(row.typed)), QString::fromLatin1(row.lesson));
    }
    // Codes drawn anew: the secret part differs for the same lesson's name, from letters not mistaken for
    // others.
    std::set<QString> secrets;
    for (int i = 0; i < 200; ++i) {
        const tLessonCodes codes = NewLessonCodes();
        ASSERT_EQ(codes.StationCode.size(), 12);
        EXPECT_EQ(codes.Lesson, codes.StationCode.left(4).toLower());
        EXPECT_FALSE(codes.StationCode.contains(QRegularExpression(QStringLiteral("[^A-HJ-NP-Z2-9]"))));
        secrets.insert(codes.StationCode.mid(4));
    }
    EXPECT_EQ(secrets.size(), 200u);
}

// A work of very many results publishes the newest of them that fit in a message the broker takes.
TEST(ClassroomPayloads, ResultsKeepTheNewestThatFitInAMessage) {
    tStation station;
    station.Lesson.Open(Cooling(1));
    station.Lesson.BeginRun(0);
    station.Measure(60, 10);
    station.End();
    for (int i = 0; i < 30; ++i) Analyse(station.Lesson, tAnalysisKind::Statistics, tFitModel::Line, i, 600);
    Analyse(station.Lesson, tAnalysisKind::Fit, tFitModel::ExpApproach, 0, 600);
    const int whole = int(ResultsPayload(station.Lesson).size());
    const struct {
        int maxBytes;
        bool all, some;
    } rows[] = {{whole, true, true}, {whole - 1, false, true}, {whole / 3, false, true}, {20, false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.maxBytes);
        const QByteArray payload = ResultsPayload(station.Lesson, row.maxBytes);
        EXPECT_LE(payload.size(), std::max(row.maxBytes, 40));
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        const QJsonArray results = object.value(QStringLiteral("results")).toArray();
        EXPECT_EQ(object.value(QStringLiteral("lines")).toArray().size(), results.size());
        EXPECT_EQ(results.size() == 31, row.all);
        EXPECT_EQ(!results.isEmpty(), row.some);
        // The newest are kept: the fit, last.
        if (row.some) {
            EXPECT_EQ(results.last().toObject().value(QStringLiteral("kind")).toString(),
                      QStringLiteral("Fit"));
        }
    }
}

// Whatever a station measured and found, each of its messages is one the broker passes on: a long run with
// numbers of every digit, its sketch, and hundreds of results.
TEST(ClassroomPayloads, EveryMessageOfALongRunFitsTheBroker) {
    tStation station;
    station.Lesson.Open(Cooling(1));
    station.Lesson.BeginRun(0);
    for (int i = 0; i < 100000; ++i) station.Values.push_back(std::sqrt(2.0) * i / 3 - 1e-7 * i * i);
    station.End();
    for (int i = 0; i < 400; ++i) Analyse(station.Lesson, tAnalysisKind::Statistics, tFitModel::Line, 0, 60);
    tRunSketch sketch;
    std::vector<std::pair<double, double>> points;
    for (int i = 0; i < 100000; ++i) points.emplace_back(i / 7.0, std::sqrt(2.0) * i / 3);
    sketch.Add(points);
    const std::pair<const char*, QByteArray> payloads[] = {
        {"run", RunPayload(station.Lesson, 0)},
        {"current", CurrentPayload(1, sketch)},
        {"results", ResultsPayload(station.Lesson)},
        {"state", StatePayload(station.Lesson, QString(60, u'Щ'))},
    };
    for (const auto& [what, payload] : payloads) {
        EXPECT_LE(payload.size(), kMaxMessageBytes - 1024) << what;
        EXPECT_GT(payload.size(), 100) << what;
    }
    EXPECT_LE(sketch.Points().size(), 2000u) << "a batch larger than the sketch is halved until it fits";
}

TEST(ClassroomPayloads, LiveBatchesAreShortAndKeepTheirExtremes) {
    tPointSeries points;
    for (int i = 0; i < 1000; ++i)
        points.Add(i * 0.001, i == 333 ? 50.0 : i == 777 ? -50.0 : std::sin(i * 0.01));
    const std::vector<QByteArray> batches = LivePayloads(points, 3, 0, 1000);
    ASSERT_EQ(batches.size(), 20u);
    double low = 0, high = 0;
    for (const QByteArray& batch : batches) {
        const QJsonObject b = QJsonDocument::fromJson(batch).object();
        EXPECT_EQ(b.value(QStringLiteral("run")).toInt(), 3);
        const QJsonArray x = b.value(QStringLiteral("x")).toArray(),
                         y = b.value(QStringLiteral("y")).toArray();
        EXPECT_LE(x.size(), 10);
        EXPECT_LT(x.last().toDouble() - x.first().toDouble(), 0.05);
        for (const QJsonValue& v : y) low = std::min(low, v.toDouble()), high = std::max(high, v.toDouble());
    }
    EXPECT_EQ(low, -50);
    EXPECT_EQ(high, 50);
    // A summary keeps every extreme in x order.
    const std::vector<std::pair<double, double>> summary = SummaryPoints(points, 100);
    EXPECT_LE(summary.size(), 100u);
    EXPECT_TRUE(std::is_sorted(summary.begin(), summary.end()));
    EXPECT_TRUE(std::count(summary.begin(), summary.end(), std::pair{0.333, 50.0}));
    EXPECT_TRUE(std::count(summary.begin(), summary.end(), std::pair{0.777, -50.0}));
}

// The class page served by the lesson's broker, in Debian's Chromium: a tile for each of 15 stations with its
// group and newest value (one of them recording live meanwhile), a station's runs and results, and all
// groups' runs on one chart with a table of their fits, the class's mean and spread, and its CSV.
TEST_F(ClassroomTest, ThePageShowsEveryStationInChromium) {
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/chromium")) ||
        QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty() ||
        !QFileInfo::exists(QStringLiteral(CLASSPAGE_DIR "/index.html")))
        GTEST_SKIP() << "chromium, node or the page missing";
    broker.Stop();
    ports.WebSockets = FreePort();
    ports.HttpDir = QStringLiteral(CLASSPAGE_DIR);
    broker.Start(dir.filePath(QStringLiteral("broker")), codes, ports);
    std::vector<std::unique_ptr<tStation>> stations;
    for (int n = 1; n <= 15; ++n) {
        stations.push_back(Station(n));
        tStation& station = *stations.back();
        station.Lesson.BeginRun(0);
        station.Measure(60, 8 + n);
        station.End();
        Analyse(station.Lesson, tAnalysisKind::Fit, tFitModel::ExpApproach, 0, 600);
    }
    // Station 1 measures on while the page is looked at.
    tStation& live = *stations.front();
    live.Lesson.BeginRun(0);
    ASSERT_TRUE(WaitUntil([&] {
        for (auto& station : stations)
            if (station->Link->Pending() > 0 || station->Link->State() != tStationLink::tState::Connected)
                return false;
        return true;
    }));
    // Group 15 has left the lesson: its tile stays, without link.
    stations.back()->Link.reset();
    // Junk a station may write under its own name, retained for every page opened later: skipped by the page
    // (a line in its console), no tile made of it, the page drawing on.
    QString zeros = QStringLiteral("0");
    for (int i = 1; i < 6000; ++i) zeros += QStringLiteral(",0");
    QString many = zeros;
    for (int i = 6000; i < 200000; ++i) many += QStringLiteral(",0");
    const struct {
        int station;
        QString what, junk;
        bool passes = true; // by the broker
    } junk[] = {
        {87, QStringLiteral("live"), QStringLiteral("{\"run\":1,\"x\":[%1],\"y\":[%1]}").arg(many), false},
        {99, QStringLiteral("state"), QStringLiteral("not json")},
        {98, QStringLiteral("live"), QStringLiteral("{\"run\":\"x\",\"x\":[1],\"y\":[]}")},
        {97, QStringLiteral("run/1"), QStringLiteral("{\"x\":\"a\"}")},
        {96, QStringLiteral("results"), QStringLiteral("[1,2]")},
        {95, QStringLiteral("state"), QStringLiteral("{\"group\":{\"a\":1}}")},
        {94, QStringLiteral("live"), QStringLiteral("{\"run\":1,\"x\":[%1],\"y\":[%1]}").arg(zeros)},
        {93, QStringLiteral("run/1"), QStringLiteral("{\"x\":[0,1],\"y\":[0,1e308]}")},
        {92, QStringLiteral("state"), QStringLiteral("{\"group\":\"%1\"}").arg(QString(10000, u'Щ'))},
        {91, QStringLiteral("results"),
         QStringLiteral(
             "{\"results\":[{\"kind\":\"Fit\",\"names\":[\"a\"],\"values\":[\"x\"],\"errors\":[1]}]}")},
        {90, QStringLiteral("run/99999999999"), QStringLiteral("{\"x\":[0],\"y\":[0]}")},
        {89, QStringLiteral("state"), QStringLiteral("{\"collecting\":\"constructor\"}")},
        {88, QStringLiteral("link"), QStringLiteral("{\"online\":\"no\"}")},
    };
    for (const auto& row : junk)
        EXPECT_EQ(Publish(StationUser(QStringLiteral("st%1").arg(row.station)), Joined(row.station), QString(),
                          Topic(row.station, row.what), row.junk) == 0,
                  row.passes)
            << row.what.toStdString();
    // Group 2 says it is group 1: the page shows the name the teacher took it under.
    EXPECT_EQ(Publish(StationUser(QStringLiteral("st2")), stations[1]->Link->Settings().Password, QString(),
                      Topic(2, QStringLiteral("state")),
                      QString::fromUtf8(StatePayload(stations[1]->Lesson, QStringLiteral("Группа 1")))),
              0);
    const QString shots = qEnvironmentVariable("ZORBINKA_KEEP_OUTPUT", dir.path());
    QProcess node;
    node.start(
        QStringLiteral("node"),
        {QStringLiteral(CHECK_PAGE), QStringLiteral(PAGE_MODULES),
         QStringLiteral("http://127.0.0.1:%1/index.html#code=%2").arg(ports.WebSockets).arg(codes.ViewerCode),
         shots, QStringLiteral("15")});
    ASSERT_TRUE(node.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    QByteArray said;
    bool restarted = false;
    while (node.state() != QProcess::NotRunning && clock.elapsed() < 120000) {
        live.Measure(0.1, 10);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        node.waitForFinished(10);
        said += node.readAllStandardOutput();
        // Told when the page is looked at: the broker goes away and comes back.
        if (!restarted && said.contains("restart-now\n")) {
            restarted = true;
            ::kill(pid_t(broker.ProcessId()), SIGKILL);
        }
    }
    said += node.readAllStandardOutput();
    ASSERT_EQ(node.exitCode(), 0) << node.readAllStandardError().toStdString();
    const QJsonObject out = QJsonDocument::fromJson(said.mid(said.indexOf("restart-now\n") + 12)).object();
    EXPECT_EQ(out.value(QStringLiteral("tilesAfter")).toInt(), 15)
        << "the page whole again after the broker's restart";
    ASSERT_GE(live.Lesson.Measured(), 0);
    EXPECT_EQ(out.value(QStringLiteral("liveFrom")).toDouble(-1),
              live.Lesson.Run(live.Lesson.Measured()).Points->X(0))
        << "the run being recorded drawn from its start";
    // The outage (over 5 s, so 50 s of the run's x) leaves no hole in the page's curve: the widest step is
    // one of the sketch's (a thousandth of the run at most) or where it meets the live points.
    const double length = live.Lesson.Run(live.Lesson.Measured()).Points->X(
        live.Lesson.Run(live.Lesson.Measured()).Points->Count() - 1);
    EXPECT_GT(out.value(QStringLiteral("widestStep")).toDouble(), 0);
    EXPECT_LT(out.value(QStringLiteral("widestStep")).toDouble(), std::max(10.0, length / 100))
        << "run of " << length << " s";
    EXPECT_TRUE(out.value(QStringLiteral("hooks")).toArray().isEmpty()) << "the page ships nothing for tests";
    EXPECT_GE(out.value(QStringLiteral("fps")).toInt(), 1) << "the page draws on";
    EXPECT_TRUE(out.value(QStringLiteral("errors")).toArray().isEmpty())
        << QJsonDocument(out.value(QStringLiteral("errors")).toArray()).toJson().toStdString();
    const QJsonArray tiles = out.value(QStringLiteral("tiles")).toArray();
    ASSERT_EQ(tiles.size(), 15);
    const QLocale russian(QLocale::Russian);
    for (const QJsonValue& value : tiles) {
        const QJsonObject tile = value.toObject();
        const int n = tile.value(QStringLiteral("station")).toString().mid(2).toInt();
        ASSERT_GE(n, 1);
        SCOPED_TRACE(n);
        const tLesson& lesson = stations[std::size_t(n - 1)]->Lesson;
        EXPECT_EQ(tile.value(QStringLiteral("group")).toString(), QStringLiteral("Группа %1").arg(n));
        EXPECT_EQ(tile.value(QStringLiteral("experiment")).toString(), QStringLiteral("Остывание воды"));
        // The value with the places the experiment shows it with.
        if (n > 1) {
            EXPECT_EQ(tile.value(QStringLiteral("value")).toString(),
                      russian.toString(*lesson.NewestValue(), 'f', 1) + QStringLiteral(" T, °C"));
        }
        EXPECT_EQ(tile.value(QStringLiteral("state")).toString(), n == 1 ? QStringLiteral("идёт опыт")
                                                                  : n == 15
                                                                      ? QStringLiteral("нет связи")
                                                                      : QStringLiteral("между опытами"));
    }
    const QJsonObject large = out.value(QStringLiteral("large")).toObject();
    EXPECT_FALSE(large.value(QStringLiteral("runs")).toArray().isEmpty());
    EXPECT_TRUE(large.value(QStringLiteral("results"))
                    .toArray()
                    .first()
                    .toString()
                    .contains(FitModelName(tFitModel::ExpApproach)));
    // All groups: a line each, a row each with the fit's parameters, then the class's mean and spread.
    EXPECT_EQ(out.value(QStringLiteral("series")).toInt(), 15);
    const QJsonArray groups = out.value(QStringLiteral("groups")).toArray();
    ASSERT_EQ(groups.size(), 1 + 15 + 2);
    const int count = FitParamCount(tFitModel::ExpApproach);
    ASSERT_EQ(groups[0].toArray().size(), 1 + count);
    for (int k = 0; k < count; ++k) {
        // The mean to the places of the groups' values: each to its error's second significant digit.
        double sum = 0;
        int places = 0;
        for (auto& station : stations) {
            const std::vector<double>& values = station->Lesson.Result(0).Values;
            sum += values[std::size_t(k)];
            const double error = values[std::size_t(count + k)];
            places = std::max(places, std::clamp(1 - int(std::floor(std::log10(error))), 0, 12));
        }
        EXPECT_EQ(groups[16].toArray()[k + 1].toString(), russian.toString(sum / 15, 'f', places)) << k;
    }
    EXPECT_EQ(out.value(QStringLiteral("csv")).toString().count(QStringLiteral("\r\n")), 17);
    std::printf(
        "class page: %d frames a second with 15 tiles, one live; whole again %d ms after the broker went, the "
        "widest step of the live curve then %.2f s\n",
        out.value(QStringLiteral("fps")).toInt(), out.value(QStringLiteral("whole")).toInt(),
        out.value(QStringLiteral("widestStep")).toDouble());
}

// Avahi for a test: the machine's own daemon when one answers; else, as root, a daemon of the test's own on a
// message bus of its own (the daemon runs one of its kind at a time: a second test's waits for the first).
class tTestAvahi {
public:
    tTestAvahi() {
        if (Answers()) return;
        const QString bus = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        const QString daemon =
            QStandardPaths::findExecutable(QStringLiteral("avahi-daemon"), {QStringLiteral("/usr/sbin")});
        if (bus.isEmpty() || daemon.isEmpty()) {
            FWhy = "avahi-daemon or dbus-daemon missing";
            return;
        }
        const QString address = QStringLiteral("unix:path=") + FDir.filePath(QStringLiteral("bus"));
        WriteFile(FDir.filePath(QStringLiteral("bus.conf")),
                  QStringLiteral(
                      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                      "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig><type>system</type><listen>%1</listen><auth>EXTERNAL</auth>"
                      "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                      .arg(address)
                      .toUtf8());
        WriteFile(FDir.filePath(QStringLiteral("avahi.conf")),
                  "[server]\nuse-ipv6=no\nenable-dbus=yes\n[publish]\npublish-workstation=no\n");
        FBus.start(bus, {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                         QStringLiteral("--config-file=") + FDir.filePath(QStringLiteral("bus.conf"))});
        if (!FBus.waitForReadyRead(10000)) {
            FWhy = "no message bus";
            return;
        }
        FOldBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        FDaemon.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList arguments{QStringLiteral("-f"), FDir.filePath(QStringLiteral("avahi.conf")),
                                    QStringLiteral("--no-drop-root"), QStringLiteral("--no-chroot"),
                                    QStringLiteral("--no-rlimits")};
        // Started again, twice a second, while another test's daemon holds the place.
        QElapsedTimer since;
        WaitUntil(
            [&] {
                if (since.isValid() && since.elapsed() < 500) return false;
                since.start();
                if (FDaemon.state() == QProcess::NotRunning) {
                    FSaid += FDaemon.readAll();
                    FDaemon.start(daemon, arguments);
                    FDaemon.waitForStarted(5000);
                }
                return Answers();
            },
            60000);
        if (!Answers()) FWhy = "avahi-daemon did not start: " + FSaid.right(300).toStdString();
    }
    ~tTestAvahi() {
        for (QProcess* process : {&FDaemon, &FBus}) {
            process->terminate();
            if (!process->waitForFinished(5000)) process->kill();
            process->waitForFinished(2000);
        }
        if (FOldBus.isNull())
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", FOldBus);
    }
    // Empty when Avahi answers.
    const std::string& Why() const { return FWhy; }
    // What Avahi finds of the lessons announced now.
    static std::vector<tFoundTeacher> Browse() {
        QProcess browse;
        const QStringList command = AvahiBrowseCommand();
        browse.start(command[0], command.mid(1));
        browse.waitForFinished(20000);
        return ParseAvahiBrowse(browse.readAllStandardOutput());
    }

private:
    static bool Answers() {
        QProcess browse;
        browse.start(QStringLiteral("avahi-browse"),
                     {QStringLiteral("-a"), QStringLiteral("-t"), QStringLiteral("-p")});
        return browse.waitForFinished(20000) && browse.exitStatus() == QProcess::NormalExit &&
               browse.exitCode() == 0;
    }
    QTemporaryDir FDir;
    QProcess FBus, FDaemon;
    QByteArray FOldBus, FSaid;
    std::string FWhy;
};

// A teacher's lesson announced through Avahi is found by a station's search, with its name and port, and
// is gone from it once the lesson ends.
TEST(ClassroomDiscovery, ATeacherAnnouncedIsFoundOnTheNetwork) {
    if (AvahiBrowseCommand().isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("avahi-publish")).isEmpty())
        GTEST_SKIP() << "avahi-utils missing";
    tTestAvahi avahi;
    if (!avahi.Why().empty()) GTEST_SKIP() << avahi.Why();
    const QString name = QStringLiteral("Зорбинка: урок «%1»").arg(QCoreApplication::applicationPid());
    const int port = FreePort();
    const auto announced = [&] {
        for (const tFoundTeacher& found : tTestAvahi::Browse())
            if (found.Name == name && found.Port == port) return true;
        return false;
    };
    {
        tAnnouncement announcement;
        ASSERT_TRUE(announcement.Start(name, port));
        ASSERT_TRUE(WaitUntil(announced, 30000)) << "not found";
        const std::vector<tFoundTeacher> found = tTestAvahi::Browse();
        const auto first =
            std::find_if(found.begin(), found.end(), [&](const tFoundTeacher& f) { return f.Name == name; });
        ASSERT_NE(first, found.end());
        // What the join box takes from it is an address a station can type.
        const auto typed = ParseTeacherAddress(first->Join(), kLessonPort);
        ASSERT_TRUE(typed);
        EXPECT_EQ(typed->second, port);
    }
    EXPECT_TRUE(WaitUntil([&] { return !announced(); }, 30000)) << "still announced after the lesson";
}

// What Avahi's browser prints of the teachers announced: each lesson once (on whatever interfaces it is
// heard), IPv4 first, names unescaped; other services, link-local IPv6 and damaged lines skipped.
TEST(ClassroomDiscovery, TeachersFoundInWhatAvahiPrints) {
    const QByteArray output =
        "+;eth0;IPv4;"
        "\\208\\151\\208\\190\\209\\128\\208\\177\\208\\184\\208\\189\\208\\186\\208\\176\\058\\032\\209\\131"
        "\\209\\128\\208\\190\\208\\186;_zorbinka._tcp;local\n"
        "=;eth0;IPv6;Teacher;_zorbinka._tcp;local;t.local;fe80::1%eth0;18883;\n"
        "=;eth0;IPv6;Teacher;_zorbinka._tcp;local;t.local;2001:db8::5;18883;\n"
        "=;eth0;IPv4;"
        "\\208\\151\\208\\190\\209\\128\\208\\177\\208\\184\\208\\189\\208\\186\\208\\176\\058\\032\\209\\131"
        "\\209\\128\\208\\190\\208\\186;_zorbinka._tcp;local;t.local;192.168.1.10;18883;\n"
        "=;wlan0;IPv4;Teacher;_zorbinka._tcp;local;t.local;192.168.1.10;18883;\n"
        "=;eth0;IPv4;Printer;_ipp._tcp;local;p.local;192.168.1.20;631;\n"
        "=;eth0;IPv4;Broken;_zorbinka._tcp;local;b.local;192.168.1.30;port;\n"
        "=;lo;IPv4;Room 12;_zorbinka._tcp;local;r.local;127.0.0.1;40001;\n"
        "=;eth0;IPv4;Room 12;_zorbinka._tcp;local;r.local;10.0.0.7;40001;\n"
        "=;eth0;IPv6;Room 12;_zorbinka._tcp;local;r.local;2001:db8::7;40001;\n"
        "=;lo;IPv4;Here;_zorbinka._tcp;local;h.local;127.0.0.1;18883;\n"
        "=;eth0;IPv6;Six;_zorbinka._tcp;local;s.local;2001:db8::6;18883;\n"
        // Addresses that are not one address of their protocol.
        "=;eth0;IPv4;Slash;_zorbinka._tcp;local;x.local;192.168/1.10;18883;\n"
        "=;eth0;IPv4;Short;_zorbinka._tcp;local;x.local;192.168.1;18883;\n"
        "=;eth0;IPv4;V6InV4;_zorbinka._tcp;local;x.local;2001:db8::9;18883;\n"
        "=;eth0;IPv6;V4InV6;_zorbinka._tcp;local;x.local;10.0.0.9;18883;\n"
        "=;eth0;IPv4;Host;_zorbinka._tcp;local;x.local;evil.example;18883;\n"
        "=;eth0;IPv4;Escaped;_zorbinka._tcp;local;x.local;10.0.0.1\\05980;18883;\n"
        "=;eth0;IPv5;Odd;_zorbinka._tcp;local;x.local;10.0.0.10;18883;\n";
    // Each lesson once, at the address the room reaches best.
    const std::vector<tFoundTeacher> found = ParseAvahiBrowse(output);
    std::vector<std::pair<QString, QString>> got;
    for (const tFoundTeacher& teacher : found) got.emplace_back(teacher.Name, teacher.Join());
    const std::vector<std::pair<QString, QString>> expected{
        {QStringLiteral("Зорбинка: урок"), QStringLiteral("192.168.1.10:18883")},
        {QStringLiteral("Teacher"), QStringLiteral("192.168.1.10:18883")},
        {QStringLiteral("Room 12"), QStringLiteral("10.0.0.7:40001")},
        {QStringLiteral("Here"), QStringLiteral("127.0.0.1:18883")},
        {QStringLiteral("Six"), QStringLiteral("[2001:db8::6]:18883")},
    };
    EXPECT_EQ(got, expected);

    // A flood of announcements: at most so many lessons, the first heard.
    QByteArray flood;
    for (int i = 0; i < 3000; ++i)
        flood += "=;eth0;IPv4;L" + QByteArray::number(i) + ";_zorbinka._tcp;local;x.local;10.0.0.1;18883;\n";
    const std::vector<tFoundTeacher> many = ParseAvahiBrowse(flood);
    ASSERT_EQ(many.size(), kMaxLessonsFound);
    EXPECT_EQ(many.back().Name, QStringLiteral("L%1").arg(kMaxLessonsFound - 1));
}

// The teacher's address as a station types it.
TEST(ClassroomDiscovery, AddressesAsTyped) {
    const struct {
        const char* typed;
        const char* host; // nullptr: refused
        int port;
    } rows[] = {
        {"192.168.1.10", "192.168.1.10", 18883},
        {" 192.168.1.10:40001 ", "192.168.1.10", 40001},
        {"teacher.local", "teacher.local", 18883},
        {"2001:db8::5", "2001:db8::5", 18883},
        {"[2001:db8::5]:7", "2001:db8::5", 7},
        {"[2001:db8::5]", "2001:db8::5", 18883},
        {"host:0", nullptr, 0},
        {"host:99999", nullptr, 0},
        {"host:abc", nullptr, 0},
        {"", nullptr, 0},
        {"a b", nullptr, 0},
        {"[::1", nullptr, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        const auto found = ParseTeacherAddress(QString::fromUtf8(row.typed), 18883);
        ASSERT_EQ(found.has_value(), row.host != nullptr);
        if (!found) continue;
        EXPECT_EQ(found->first, QString::fromUtf8(row.host));
        EXPECT_EQ(found->second, row.port);
    }
}
