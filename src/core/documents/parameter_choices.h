#pragma once

#include <QStringList>
#include <QtGlobal>

#include <array>
#include <span>

namespace quillner {

// One entry of a list of the General Parameter window. Its position in the list is the index
// pargen.xml stores; the bank holds the code.
struct ParameterChoice
{
    int value;        // bit/s, kbit/s, or 0 for the parities
    int bankCode;     // the byte the device reads
    const char* text; // the window's text
};

// The bank code of a serial baud-rate list index: the index itself, in 8 bits.
constexpr quint8 serialBaudBankCode(qint32 index)
{
    return quint8(quint32(index) & 0xFFu);
}

// The bank code of a CAN baud-rate list index: the index plus one, in 8 bits; any integer has
// one, so that an index no window writes is still stored the same way.
constexpr quint8 canBaudBankCode(qint32 index)
{
    return quint8((quint32(index) + 1u) & 0xFFu);
}

inline constexpr std::array<ParameterChoice, 8> kSerialBaudChoices = {{
    {1200, serialBaudBankCode(0), "1200"},
    {2400, serialBaudBankCode(1), "2400"},
    {4800, serialBaudBankCode(2), "4800"},
    {9600, serialBaudBankCode(3), "9600"},
    {19200, serialBaudBankCode(4), "19200"},
    {38400, serialBaudBankCode(5), "38400"},
    {57600, serialBaudBankCode(6), "57600"},
    {115200, serialBaudBankCode(7), "115200"},
}};

inline constexpr std::array<ParameterChoice, 3> kParityChoices = {{
    {0, 0, "None"},
    {0, 3, "Odd"},
    {0, 1, "Even"},
}};

inline constexpr std::array<ParameterChoice, 9> kCanBaudChoices = {{
    {10, canBaudBankCode(0), "10"},
    {20, canBaudBankCode(1), "20"},
    {50, canBaudBankCode(2), "50"},
    {100, canBaudBankCode(3), "100"},
    {125, canBaudBankCode(4), "125"},
    {250, canBaudBankCode(5), "250"},
    {500, canBaudBankCode(6), "500"},
    {800, canBaudBankCode(7), "800"},
    {1000, canBaudBankCode(8), "1000"},
}};

// The texts of a list, in order, as the window shows them.
QStringList choiceTexts(std::span<const ParameterChoice> choices);

// The entry whose bank code is code, or null for a code no window writes.
const ParameterChoice* choiceWithCode(std::span<const ParameterChoice> choices, int code);

// The bank code of a list index, or fallback for an index outside the list.
int bankCodeOfIndex(std::span<const ParameterChoice> choices, int index, int fallback);

} // namespace quillner
