#pragma once
#include <QtCore/qglobal.h>

#if defined(QELCORE_LIBRARY)
#  define QELCORE_EXPORT Q_DECL_EXPORT
#else
#  define QELCORE_EXPORT Q_DECL_IMPORT
#endif
