#pragma once

#include <QString>

namespace meterlink {

// Why no file can be made at `path` — its folder is missing, is no folder or cannot be
// written — in the system's words; empty when one can. Looks only: makes nothing, so a
// download can be refused before its wait rather than after it.
QString outputFolderProblem(const QString& path);

} // namespace meterlink
