#pragma once

#include <QStringList>

namespace quillner {

// "quillner-cli filter set|fit|test|import-dbc …": the filter tools, through the same core as
// the filter windows. arguments[0] is "filter". Returns the exit status; throws quillner::Error
// for a failure, its text ending with the hint to --help for a usage error.
int runFilterCommand(const QStringList& arguments);

} // namespace quillner
