#include "filter_commands.h"

#include "bus_commands.h"
#include "filter_command_runs.h"

#include "core/bank/filter_export.h"

namespace quillner {

namespace {

using cli::OptionSpec;
using cli::Takes;

const OptionSpec kPartialOption{
    "partial", Takes::Nothing, "",
    "Read a recording cut short to its last whole frame, warning\nwhere it ends."};

const char* const kSetNotation = R"(
A SET is written as 0x100-0x1FF, 0x7DF 1024 (numbers as typed: decimal, or
hexadecimal after 0x, $ or x), 0x600:0x7F0 (id:mask, both hexadecimal as
candump writes them) or 0x600~0x7F0 (the identifiers the pair does not pass).
)";

} // namespace

const std::vector<cli::CommandSpec>& filterCommands()
{
    static const QByteArray setDescription =
        QByteArray(R"(Edits the project's filter as the filter windows do: for CAN 2.0A makes the
identifiers of SET visible or hidden; for CAN 2.0B makes SET the COB-ID list
(positive, or negative with --negative) or the patterns the mask list. The frame
format is the one the device gets from pargen.xml. A 2.0B filter that lets every
extended frame through (an empty list, a pattern of 29 x or 0:0) is written only
with --allow-all. A pattern has all 29 symbols, or is written id:mask.
)") + kSetNotation;
    static const std::vector<cli::CommandSpec> commands{
        {"filter set",
         "filter set PROJECT_DIR (--show SET | --hide SET | --list SET [--negative] | "
         "--patterns P,...) [--allow-all]",
         "Edit the project's CAN filter as the filter windows do.",
         setDescription.constData(),
         {{"show", Takes::Text, "SET", "CAN 2.0A: make the identifiers of SET visible."},
          {"hide", Takes::Text, "SET", "CAN 2.0A: make the identifiers of SET hidden."},
          {"list", Takes::Text, "SET", "CAN 2.0B: make SET the COB-ID list (at most 63)."},
          {"negative", Takes::Nothing, "", "With --list: the listed identifiers are blocked."},
          {"patterns", Takes::Text, "P,...",
           "CAN 2.0B: the patterns (29 characters of 1, 0, x, or id:mask)\nbecome the mask list "
           "(at most 10)."},
          {"allow-all", Takes::Nothing, "",
           "Write a 2.0B filter that lets every extended frame through: an\nempty list, or a "
           "pattern that fixes no bit."}},
         R"(Example:
  quillner-cli filter set PROJECTS/Alpha --hide 0x600-0x6FF
)",
         {Takes::Folder},
         false,
         cli::filter::runSet},
        {"filter fit",
         "filter fit (--ids SET | --ids-file FILE) [--max-patterns N] [--log LOG [--partial] | "
         "--bus PLUGIN:INTERFACE [--seconds N | --frames N]] [--apply DIR [--allow-all]]",
         "Choose the 2.0B list or patterns for a set of 29-bit identifiers.",
         R"(Chooses the 2.0B filter for 29-bit identifiers: the list when it holds them
(63), else at most N (10) patterns; prints it with the number of extra
identifiers passed and the least any N patterns could pass ("optimal" when it
is reached). With --log the patterns let the fewest frames of the recording
through that the set did not ask for, and tell how many per second; --bus does
the same with the frames heard on a live bus; --apply saves the filter in the
project folder DIR.
)",
         {{"ids", Takes::Text, "SET", "The identifiers, written as a SET."},
          {"ids-file", Takes::File, "FILE", "The identifiers, from a file."},
          {"max-patterns", Takes::Text, "N", "At most N patterns (1 to 10)."},
          {"log", Takes::File, "LOG", "Weigh each identifier by its frames in the recording LOG."},
          kPartialOption,
          cli::kBusOption,
          cli::kSecondsOption,
          cli::kFramesOption,
          {"apply", Takes::Folder, "DIR", "Save the chosen filter in the CAN 2.0B project DIR."},
          {"allow-all", Takes::Nothing, "",
           "With --apply: save patterns that let every extended frame through\n(a set of every "
           "29-bit identifier)."}},
         R"(Example:
  quillner-cli filter fit --ids 0x18FF0000-0x18FF00FF --max-patterns 4
)",
         {},
         false,
         cli::filter::runFit},
        {"filter test",
         "filter test PROJECT_DIR (LOG... [--partial] [--threads N] | --bus PLUGIN:INTERFACE "
         "[--seconds N | --frames N]) [--json | --blocked | --passed] [--lenient]",
         "Tell which frames of recordings the project's filter passes.",
         R"(Tells for each frame of the recordings whether the device receives it with the
project's compiled bank: per identifier and in total. A LOG is a candump log or
screen output, a Vector ASC or BLF file or a PEAK TRC file, gzip-compressed or
not, told by its content; - is standard input. Remote frames are blocked while
can.rtr is off, CAN FD frames are never received, and error frames are counted
on their own. A recording that ends inside a line or an object (a logger that
lost power) is refused, telling where, unless --partial. With --bus the frames
of a live CAN bus are judged as they come (on a terminal, a table of them is
shown as they come); the session ends after --seconds, after --frames, or on
Ctrl-C, with the same output as a recording.
)",
         {{"json", Takes::Nothing, "", "Print the tally as one JSON object."},
          {"blocked", Takes::Nothing, "",
           "Print only the blocked frames, in the log's own format."},
          {"passed", Takes::Nothing, "",
           "Print only the passed frames, in the log's own format (BLF\nframes as candump log "
           "lines)."},
          kPartialOption,
          cli::kBusOption,
          cli::kSecondsOption,
          cli::kFramesOption,
          {"threads", Takes::Text, "N",
           "Read a large uncompressed candump log with N threads (1 or 2;\n2 where there are two "
           "cores)."},
          cli::kLenientOption,
          cli::kStrictOption},
         R"(Example:
  quillner-cli filter test PROJECTS/Alpha bus.log --blocked
)",
         {Takes::Folder, Takes::File},
         true,
         cli::filter::runTest},
        {"filter export",
         "filter export PROJECT_DIR --as candump|socketcan|python-can|json [--lenient]",
         "Write the device's receive filter in another CAN tool's notation.",
         R"help(Compiles the project in memory (writing nothing) and writes its receive filter
so that another tool receives exactly the frames the device does: candump's
filter list (candump "can0,$(quillner-cli filter export P --as candump)"), a
struct can_filter array in C for a CAN_RAW socket, python-can's can_filters,
or the SocketCAN words in JSON. Every filter names the frame format; while
can.rtr is off every filter asks for data frames only (python-can cannot, and
says so in a comment). A filter that passes no frame cannot be told to candump
or python-can, which would then receive everything.
)help",
         {{"as", Takes::Text, "NOTATION", "candump, socketcan, python-can or json.", nullptr,
           filterNotationNameList},
          cli::kLenientOption,
          cli::kStrictOption},
         R"help(Example:
  candump "can0,$(quillner-cli filter export PROJECTS/Alpha --as candump)"
)help",
         {Takes::Folder},
         false,
         cli::filter::runExport},
        {"filter import-dbc",
         "filter import-dbc PROJECT_DIR FILE.dbc [--messages NAME,...] [--allow-all]",
         "Make the identifiers of a DBC file's messages the filter.",
         R"(Makes the identifiers of the DBC file's messages the filter: visible for
2.0A, the list or fitted patterns for 2.0B. Messages of the other identifier
form are listed as skipped; a DBC that gives the project no identifier is
refused unless --allow-all.
)",
         {{"messages", Takes::Text, "NAME,...", "Only these messages, separated by commas."},
          {"allow-all", Takes::Nothing, "",
           "Write the filter even when the DBC gives no identifier of the\nproject's frame "
           "format."}},
         R"(Example:
  quillner-cli filter import-dbc PROJECTS/Truck engine.dbc --messages EEC1,CCVS
)",
         {Takes::Folder, Takes::File},
         false,
         cli::filter::runImportDbc},
    };
    return commands;
}

} // namespace quillner
