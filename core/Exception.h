// Error classes of the program: Exception carries a user-facing message, EAbort ends an operation silently.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(const QString& message) : FMessage(message), FUtf8(message.toUtf8()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// Ends a command without any message or log line.
class EAbort : public Exception {
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
};

// An index outside the list was given.
class EListError : public Exception {
public:
    explicit EListError(int index) : Exception(QStringLiteral("List index out of bounds (%1)").arg(index)) {}
};

// The text of the operating system for an errno value.
QString SystemErrorText(int errorNumber);
