#pragma once

#include "core/app/problems.h"
#include "core/firmware/bank_layout.h"

#include <QString>
#include <QStringList>
#include <array>

namespace quillner {

using ConfigurationBank = std::array<quint8, kBankSize>;

struct CompiledBank
{
    ConfigurationBank bank{};
    // What could not be read, each with its file's name and no place ("pargen.xml: ..." as a
    // line). The bytes never depend on this list: a compile that stops early leaves zeros where
    // it did not reach.
    Problems unreadable;
};

// Builds the configuration image from the general parameters and the filter document of the
// frame format they name. Never throws. Entries beyond what the device reads (2048 identifiers
// of Filter20A.xml; 65 identifiers or 32 patterns of Filter20B.xml) are not read, and a line in
// unreadable says how many were left out; the entry count in byte 13 still counts them all.
CompiledBank CompileBank(const QString& pargenPath, const QString& filter20APath,
                         const QString& filter20BPath);

} // namespace quillner
