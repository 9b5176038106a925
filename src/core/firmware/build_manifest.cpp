#include "core/firmware/build_manifest.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/bank/configuration_description.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>

namespace quillner {

namespace {

constexpr int kManifestSchema = 1;

QJsonObject fileEntry(const QString& file, const QByteArray& sha256)
{
    return QJsonObject{{QStringLiteral("file"), file},
                       {QStringLiteral("sha256"), QString::fromLatin1(sha256)}};
}

} // namespace

// The bank's description, named by its place in the project folder so that the manifest holds
// no path of this machine.
QJsonObject manifestDescription(const BuildManifest& manifest)
{
    const Result<ConfigurationDescription> described =
        describeBankOf(ConfigurationKind::Bank, manifest.bankFile, manifest.bank);
    if (!described.whole())
        throw Error(problemLines(described.problems).join(u'\n'));
    return configurationDescriptionJson(described.value);
}

QByteArray buildManifestBytes(const BuildManifest& manifest)
{
    // A QJsonObject keeps its keys in order, so the same manifest gives the same bytes.
    QJsonObject root{
        {QStringLiteral("schema"), kManifestSchema},
        {QStringLiteral("tool"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("quillner-cli")},
                     {QStringLiteral("version"), QStringLiteral(QUILLNER_VERSION)}}},
        {QStringLiteral("master"), fileEntry(manifest.masterFile, manifest.masterSha256)},
        {QStringLiteral("bank"), fileEntry(manifest.bankFile, manifest.bankSha256)},
        {QStringLiteral("merged"), fileEntry(manifest.mergedFile, manifest.mergedSha256)},
        {QStringLiteral("description"), manifestDescription(manifest)},
    };
    if (manifest.builtAt)
        root.insert(
            QStringLiteral("built"),
            QDateTime::fromSecsSinceEpoch(*manifest.builtAt, Qt::UTC).toString(Qt::ISODate));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<qint64> sourceDateEpoch()
{
    const QByteArray text = qgetenv("SOURCE_DATE_EPOCH");
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (!ok || text.trimmed() != text)
        return std::nullopt;
    return seconds;
}

Result<ManifestFiles> parseManifestFiles(const QByteArray& bytes)
{
    const auto refused = [](const QString& text) {
        return Result<ManifestFiles>::failure({Problem{{}, {}, text}});
    };
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return refused(QStringLiteral("not JSON: %1").arg(error.errorString()));
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("schema")).toInt() != kManifestSchema) {
        return refused(QStringLiteral("not a manifest of schema %1").arg(kManifestSchema));
    }
    ManifestFiles files;
    files.toolVersion = root.value(QStringLiteral("tool"))[QStringLiteral("version")].toString();
    const auto entry = [&](const char* key, QString& file, QByteArray& sha256) {
        const QJsonValue value = root.value(QLatin1StringView(key));
        file = value[QStringLiteral("file")].toString();
        sha256 = value[QStringLiteral("sha256")].toString().toLatin1();
        return !file.isEmpty() && sha256.size() == 64;
    };
    if (!entry("master", files.masterFile, files.masterSha256) ||
        !entry("bank", files.bankFile, files.bankSha256) ||
        !entry("merged", files.mergedFile, files.mergedSha256)) {
        return refused(QStringLiteral("a file or its SHA-256 is missing"));
    }
    return {files, {}, {}};
}

void writeBuildManifest(const QString& folder, const BuildManifest& manifest)
{
    writeFileAtomically(joinPath(folder, QString::fromLatin1(kBuildManifestName)),
                        buildManifestBytes(manifest));
}

} // namespace quillner
