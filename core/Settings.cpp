// The configuration store's operations, its file formats and its optional reader/writer lock.
#include "core/Settings.h"

#include "core/Exception.h"
#include "core/IniFile.h"
#include "core/Strings.h"
#include "core/TextCodec.h"

#include <QFileInfo>

class tSettings::tReadGuard {
public:
    explicit tReadGuard(std::shared_mutex* lock) : FLock(lock) {
        if (FLock) FLock->lock_shared();
    }
    ~tReadGuard() {
        if (FLock) FLock->unlock_shared();
    }

private:
    std::shared_mutex* FLock;
};

class tSettings::tWriteGuard {
public:
    explicit tWriteGuard(std::shared_mutex* lock) : FLock(lock) {
        if (FLock) FLock->lock();
    }
    ~tWriteGuard() {
        if (FLock) FLock->unlock();
    }

private:
    std::shared_mutex* FLock;
};

bool SplitSettingLine(const QString& line, QString* name, QString* value) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) return false;
    if (name) *name = line.left(eq);
    if (value) *value = line.mid(eq + 1);
    return true;
}

tSettings::tSettings(bool threadSafe) {
    try {
        Init(threadSafe);
    } catch (...) {
        Cleanup();
        throw;
    }
}

tSettings::tSettings(const QString& fileName, bool threadSafe) : tSettings(threadSafe) {
    FileName = fileName;
}

tSettings::tSettings(const QString& fileName, const QString& section, bool threadSafe)
    : tSettings(threadSafe) {
    FileName = fileName;
    Section = section;
}

tSettings::~tSettings() {
    Cleanup();
}

void tSettings::Init(bool threadSafe) {
    if (threadSafe) Lock = std::make_unique<std::shared_mutex>();
    Lines = std::make_unique<QStringList>();
}

void tSettings::Cleanup() {
    Lines.reset();
    Lock.reset();
}

void tSettings::Load(const QString& fileName) {
    tWriteGuard guard(Lock.get());
    const QString source = fileName.isEmpty() ? FileName : fileName;
    if (source.isEmpty() || !QFileInfo(source).isFile())
        throw Exception(FmtLoadStr(sCannotReadSettings, {source}));
    if (Section.isEmpty()) {
        QStringList lines = SplitTextLines(DecodeTextFile(ReadFileBytes(source)));
        *Lines = std::move(lines);
        if (!fileName.isEmpty()) FileName = fileName;
        return;
    }
    const tIniFile ini(source);
    QStringList lines;
    for (const auto& [key, value] : ini.ReadSection(Section)) lines.append(key + u'=' + value);
    *Lines = std::move(lines);
    FileName = ini.FileName();
}

void tSettings::Save(const QString& fileName) {
    QString target;
    {
        tReadGuard guard(Lock.get());
        target = fileName.isEmpty() ? FileName : fileName;
        if (Section.isEmpty()) {
            QString text;
            for (const QString& line : *Lines) text += line + QStringLiteral("\r\n");
            WriteFileBytes(target, text.toUtf8());
        } else {
            tIniFile ini(target);
            for (const QString& line : *Lines) {
                QString name;
                if (!SplitSettingLine(line, &name, nullptr)) continue;
                ini.WriteString(Section, name, ValueUnlocked(name));
            }
            ini.Save();
        }
    }
    tWriteGuard guard(Lock.get());
    FileName = target;
}

void tSettings::SetLines(const QStringList& lines) {
    tWriteGuard guard(Lock.get());
    *Lines = lines;
}

int tSettings::IndexOfNameUnlocked(const QString& name) const {
    for (qsizetype i = 0; i < Lines->size(); ++i) {
        QString lineName;
        if (SplitSettingLine((*Lines)[i], &lineName, nullptr) &&
            lineName.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

QString tSettings::ValueUnlocked(const QString& name) const {
    const int index = IndexOfNameUnlocked(name);
    if (index < 0) return QString();
    QString value;
    SplitSettingLine((*Lines)[index], nullptr, &value);
    return value;
}

void tSettings::SetUnlocked(const QString& name, const QString& value) {
    const int index = IndexOfNameUnlocked(name);
    if (value.isEmpty()) {
        if (index >= 0) Lines->removeAt(index);
        return;
    }
    if (index < 0) {
        Lines->append(name + u'=' + value);
        return;
    }
    QString lineName;
    SplitSettingLine((*Lines)[index], &lineName, nullptr);
    (*Lines)[index] = lineName + u'=' + value;
}

void tSettings::CheckIndex(int index) const {
    if (index < 0 || index >= Lines->size()) throw EListError(index);
}

QString tSettings::GetSettingByName(const QString& name) const {
    tReadGuard guard(Lock.get());
    return ValueUnlocked(name);
}

void tSettings::SetSettingByName(const QString& name, const QString& value) {
    tWriteGuard guard(Lock.get());
    SetUnlocked(name, value);
}

int tSettings::AddName(const QString& name, const QString& value) {
    tWriteGuard guard(Lock.get());
    const QString line = name + u'=' + value;
    const int index = IndexOfNameUnlocked(name);
    if (index >= 0) {
        (*Lines)[index] = line;
        return index;
    }
    Lines->append(line);
    return int(Lines->size() - 1);
}

int tSettings::IndexOfName(const QString& name) const {
    tReadGuard guard(Lock.get());
    return IndexOfNameUnlocked(name);
}

int tSettings::GetCount() const {
    tReadGuard guard(Lock.get());
    return int(Lines->size());
}

QString tSettings::GetNameByIndex(int index) const {
    tReadGuard guard(Lock.get());
    CheckIndex(index);
    QString name;
    SplitSettingLine((*Lines)[index], &name, nullptr);
    return name;
}

QString tSettings::GetSettingByIndex(int index) const {
    tReadGuard guard(Lock.get());
    CheckIndex(index);
    QString name;
    SplitSettingLine((*Lines)[index], &name, nullptr);
    return ValueUnlocked(name);
}

void tSettings::SetSettingByIndex(int index, const QString& value) {
    tWriteGuard guard(Lock.get());
    CheckIndex(index);
    QString name;
    SplitSettingLine((*Lines)[index], &name, nullptr);
    SetUnlocked(name, value);
}

QString tSettings::GetSection() const {
    tReadGuard guard(Lock.get());
    return Section;
}

void tSettings::SetSection(const QString& section) {
    tWriteGuard guard(Lock.get());
    Section = section;
}

QString tSettings::GetFileName() const {
    tReadGuard guard(Lock.get());
    return FileName;
}

void tSettings::SetFileName(const QString& fileName) {
    tWriteGuard guard(Lock.get());
    FileName = fileName;
}

void tSettings::AssignTo(tSettings& target) const {
    if (&target == this) return;
    tReadGuard source(Lock.get());
    tWriteGuard destination(target.Lock.get());
    target.Section = Section;
    target.FileName = FileName;
    *target.Lines = *Lines;
}

int tSettings::GetInt(const QString& name, int fallback) const {
    bool ok = false;
    const int value = GetSettingByName(name).toInt(&ok, 10);
    return ok ? value : fallback;
}

bool tSettings::GetBool(const QString& name, bool fallback) const {
    return GetInt(name, fallback ? 1 : 0) != 0;
}

QStringList OverlaySettings(tSettings& settings, const QString& fileName) {
    tSettings own(false);
    try {
        own.Load(fileName);
    } catch (const Exception&) {
        return {};
    }
    QStringList changed;
    QStringList seen;
    for (int i = 0; i < own.GetCount(); ++i) {
        const QString name = own.GetNameByIndex(i).trimmed();
        if (name.isEmpty() || seen.contains(name, Qt::CaseInsensitive)) continue;
        seen << name;
        const QString value = own.GetSettingByIndex(i);
        if (settings.GetSettingByName(name) == value && (!value.isEmpty() || settings.IndexOfName(name) < 0))
            continue;
        settings.SetSettingByName(name, value);
        changed << name + u'=' + value;
    }
    return changed;
}
