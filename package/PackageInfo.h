#pragma once

// What the package tells the host about itself.
struct PackageInfoTable {
    const char *name;
    int unitCount;
    const char *const *units;     // contained units, in initialization order
    int requiresCount;
    const char *const *requires_; // packages it needs from the host
};

class QWidget;

// Entry points the host resolves by name after loading the package.
using PackageInitializeProc = void (*)();
using PackageFinalizeProc = void (*)();
using GetPackageInfoTableProc = const PackageInfoTable *(*)();
// Creates the main window (TFrmProject); the host then sets its context
// (invokable "SetContext(QString)") and shows it. The window frees itself on close.
using CreateFrmProjectProc = QWidget *(*)(QWidget *owner);
