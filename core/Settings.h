// The configuration store: an ordered list of name=value lines, looked up by case-insensitive name.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <shared_mutex>

class tSettings {
public:
    explicit tSettings(bool threadSafe);
    tSettings(const QString& fileName, bool threadSafe);
    tSettings(const QString& fileName, const QString& section, bool threadSafe);
    virtual ~tSettings();

    tSettings(const tSettings&) = delete;
    tSettings& operator=(const tSettings&) = delete;

    // Replaces the lines with the file's (or, in INI mode, with the keys of the section).
    // A missing file raises message 1004 and changes nothing.
    void Load(const QString& fileName = QString());
    void Save(const QString& fileName = QString());
    // Replaces the lines with `lines` (a text already read by the caller).
    void SetLines(const QStringList& lines);

    QString GetSettingByName(const QString& name) const;
    // An empty value deletes the first line of that name.
    void SetSettingByName(const QString& name, const QString& value);
    // Unlike SetSettingByName, an empty value leaves the line "name=" in place.
    int AddName(const QString& name, const QString& value);
    int IndexOfName(const QString& name) const;
    int GetCount() const;
    QString GetNameByIndex(int index) const;
    QString GetSettingByIndex(int index) const;
    void SetSettingByIndex(int index, const QString& value);

    QString GetSection() const;
    void SetSection(const QString& section);
    QString GetFileName() const;
    void SetFileName(const QString& fileName);

    // Copies the section, the file name and every line into `target`.
    void AssignTo(tSettings& target) const;

    // Readers of typed keys: a missing or invalid value gives `fallback`.
    int GetInt(const QString& name, int fallback) const;
    bool GetBool(const QString& name, bool fallback) const;

protected:
    virtual void Init(bool threadSafe);
    virtual void Cleanup();

private:
    class tReadGuard;
    class tWriteGuard;

    int IndexOfNameUnlocked(const QString& name) const;
    QString ValueUnlocked(const QString& name) const;
    void SetUnlocked(const QString& name, const QString& value);
    void CheckIndex(int index) const;

    std::unique_ptr<std::shared_mutex> Lock;
    QString Section;
    QString FileName;
    std::unique_ptr<QStringList> Lines;
};

// The user's own file of settings laid over the shipped ones, key by key (the first line of a name counts, an
// empty value removes the key). Returns the lines that changed something, "name=value"; nothing when the file
// is missing or cannot be read.
QStringList OverlaySettings(tSettings& settings, const QString& fileName);

// Name and value parts of one line; a line without "=" has no name.
bool SplitSettingLine(const QString& line, QString* name, QString* value);
