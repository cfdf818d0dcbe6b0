#pragma once
// Failures are silent to the user; each one is reported on standard error through this category
// (never with a password in it).
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKelvoran)
