// A dynamic library loaded by file name, with its exported functions looked up by name.
#pragma once

#include <QString>

class tLibrary {
public:
    // Loads the library; raises Exception with the loader's reason when it cannot.
    explicit tLibrary(const QString& fileName);
    virtual ~tLibrary();

    tLibrary(const tLibrary&) = delete;
    tLibrary& operator=(const tLibrary&) = delete;

    // The address of the exported function; raises Exception with the loader's reason when it is missing.
    void* GetProc(const QString& name) const;
    QString GetFileName() const { return FileName; }
    operator void*() const { return ModuleHandle; }

private:
    void* ModuleHandle = nullptr;
    QString FileName;
};
