// The diagnostic log: time-stamped lines appended by any thread, written only when started with "LOG".
#pragma once

#include <QString>
#include <memory>
#include <shared_mutex>

class tLogFile {
public:
    // Opens (or creates) `fileName` for appending when the command line holds the switch "LOG";
    // raises Exception when the file cannot be opened or another process writes it.
    explicit tLogFile(const QString& fileName);
    virtual ~tLogFile();

    tLogFile(const tLogFile&) = delete;
    tLogFile& operator=(const tLogFile&) = delete;

    // Appends "date time message" and CR LF.
    void Write(const QString& message);
    // Appends the text as it is, under the lock, with one write call.
    virtual void WriteRaw(const QString& text);

    bool IsWriting() const { return Stream >= 0; }

protected:
    virtual void Cleanup();

private:
    std::unique_ptr<std::shared_mutex> Lock;
    int Stream = -1;
};

// The process-wide log; empty before start-up creates it and after the run.
extern tLogFile* LogFile;

// Writes to LogFile when there is one.
void WriteLog(const QString& message);

// Bytes as the log shows them: each as two upper-case hex digits between `prefix` and `suffix`.
QString LogHex(const void* bytes, int count, const char* prefix, const char* suffix);
// Bytes taken as characters, one character per byte.
QString LogRaw(const void* bytes, int count);
