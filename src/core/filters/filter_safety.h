#pragma once

#include "core/app/result.h"
#include "core/filters/filter20b.h"

namespace quillner {

// Whether the device would let every extended frame through with this 2.0B filter: a list
// without a single entry, or patterns without one, put no filter word into the bank; a negative
// list that names no 29-bit identifier blocks nothing; a pattern without a fixed bit ("x" 29
// times, or 0:0) passes every identifier. Every writer of a 2.0B filter asks this one question.
bool opensTheGateway(const Filter20B& filter);

// Whether the project's Filter20B.xml lets every extended frame through: a missing document does
// (the device then gets no filter). A document that cannot be read is its problem.
Result<bool> savedFilterOpensTheGateway(const QString& filter20BPath);

// The text that says why such a filter opens the gateway, for a refusal or a warning.
QString openGatewayText(const Filter20B& filter);

// A problem, "... lets every extended frame through; nothing was written
// (--allow-all writes it on purpose)", for such a filter unless allowAll; success otherwise.
Result<Done> refuseOpenGateway(const Filter20B& filter, bool allowAll);

} // namespace quillner
