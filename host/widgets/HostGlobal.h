#pragma once
#include <QtCore/qglobal.h>

#if defined(QELHOST_LIBRARY)
#  define QELHOST_EXPORT Q_DECL_EXPORT
#else
#  define QELHOST_EXPORT Q_DECL_IMPORT
#endif
