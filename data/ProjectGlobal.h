#pragma once
#include <QtCore/qglobal.h>

// Classes and unit globals of the QELUIProject package.
#if defined(QELUIPROJECT_LIBRARY)
#  define QELUIPROJECT_EXPORT Q_DECL_EXPORT
#else
#  define QELUIPROJECT_EXPORT Q_DECL_IMPORT
#endif
