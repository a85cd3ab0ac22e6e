#pragma once

// The programs under test are built beside the test programs (bin/). Found from the running
// test rather than a path compiled in, so that a test's object file is the same in every
// build folder and the sanitizer build takes it from the release build's cache.
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace meterlink {

inline QString builtProgram(const char* name) {
    static const QString folder =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    return folder + QLatin1Char('/') + QLatin1String(name);
}

} // namespace meterlink
