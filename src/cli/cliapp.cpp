// kelmora-cli's start: arguments, the port, one session.
#include "cli/cliapp.h"
#include "bridge/mosquittoclient.h"
#include "cli/clisession.h"
#include "device/framelog.h"
#include "device/portnames.h"
#include "device/qtseriallink.h"
#include "storage/notestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

// Without --port: the ports Com1..Com99 would resolve to, existing devices first.
void ListPorts(QTextStream &err, const QString &folder)
{
    QStringList present, absent;
    for (int n = 1; n <= kPortCount; ++n) {
        const QString device = PortDevice(n, folder);
        const QString line = QStringLiteral("  Com%1  %2").arg(n).arg(device.isEmpty() ? QStringLiteral("-") : device);
        (QFileInfo::exists(device) ? present : absent) << line;
    }
    err << "Ports (existing devices first):\n";
    for (const QString &l : present + absent)
        err << l << '\n';
}

} // namespace

int RunKelmoraCli(int argc, char **argv, const PdfPainter &paint)
{
    // A PDF is painted, and painting needs Qt's GUI side, which this program does without so that a
    // box with no desktop libraries runs it: a command that names a .pdf goes to kelmora-pdf.
    bool pdf = false;
    for (int i = 1; i < argc; ++i)
        pdf = pdf || QByteArray(argv[i]).toLower().endsWith(".pdf");
    if (pdf && !paint) {
        // Beside this program in the build folder; installed, in ../libexec/kelmora.
        const QString here = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
        const QString beside = here + QStringLiteral("/kelmora-pdf");
        const QByteArray helper = QFile::encodeName(
            QFileInfo::exists(beside) ? beside : QDir::cleanPath(here + QStringLiteral("/../libexec/kelmora/kelmora-pdf")));
        execv(helper.constData(), argv);
        std::fprintf(stderr, "kelmora-cli: PDF output needs %s (package kelmora): %s\n", helper.constData(),
                     std::strerror(errno));
        return int(CliExit::Usage);
    }
    // kelmora-pdf has made its application already.
    const std::unique_ptr<QCoreApplication> app =
        QCoreApplication::instance() ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
    // Same names as the window: an installed copy finds the same ComN links.
    QCoreApplication::setApplicationName(QStringLiteral("kelmora"));
    QCoreApplication::setOrganizationName(QStringLiteral("kelmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELMORA_VERSION));

    QTextStream out(stdout), err(stderr);
    const CliParse parsed = ParseCliArguments(QCoreApplication::arguments().mid(1));
    if (parsed.help) {
        out << parsed.helpText;
        return int(CliExit::Ok);
    }
    if (parsed.version) {
        out << "kelmora-cli " << QCoreApplication::applicationVersion() << '\n';
        return int(CliExit::Ok);
    }
    const auto usage = [&](const QString &why) {
        if (parsed.json)
            out << CliErrorJson(why, CliExit::Usage) << '\n';
        else
            err << "kelmora-cli: " << why << '\n';
        return int(CliExit::Usage);
    };
    if (!parsed.request)
        return usage(parsed.error);
    const CliRequest &request = *parsed.request;
    const QString folder = ScheduleFolder(QCoreApplication::applicationDirPath());
    // Ctrl+C stops a transfer under way and reports where it stopped; a second one ends the program.
    std::signal(SIGINT, [](int) {
        CliSession::interrupted = 1;
        std::signal(SIGINT, SIG_DFL);
    });
    if (!request.broker.isEmpty()) {
        QString why;
        const QString host = QSysInfo::machineHostName();
        const std::optional<MqttSettings> settings = ClientSettings(
            request.broker, request.passwordFile, request.tlsCa,
            NetworkClientId(QStringLiteral("kelmora-cli")), &why);
        if (!settings)
            return usage(why);
        MosquittoClient mqtt(*settings, [&](const QString &line) {
            if (!request.quiet && !request.json)
                err << "kelmora-cli: " << line << '\n' << Qt::flush;
        });
        if (!mqtt.setupError().isEmpty())
            return usage(mqtt.setupError());
        QtSerialLink unused(folder);
        CliSession session(request, unused, [] { return OpenResult{}; }, {out, err, bool(isatty(STDERR_FILENO))});
        session.useBroker(mqtt, QStringLiteral("kelmora-cli@") + host);
        session.setPdfPainter(paint);
        const int exit = session.run();
        mqtt.disconnectNow();
        return exit;
    }
    if (request.port.isEmpty() && !FilesOnly(request.command)) {
        const int exit = usage(QStringLiteral("no --port given"));
        ListPorts(err, folder);
        return exit;
    }

    QtSerialLink link(folder);
    const auto comN = QRegularExpression(QStringLiteral("^com(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption)
                          .match(request.port);
    const auto open = [&]() -> OpenResult {
        if (!comN.hasMatch())
            return link.openDevice(request.port);
        const int n = comN.captured(1).toInt();
        OpenResult r = link.open(n);
        // A number that stands for no device: say so, and where its link would go.
        if (r.device.isEmpty())
            r.device = QStringLiteral("Com%1").arg(n) + PortToolTip(n, folder);
        return r;
    };
    // --trace: the frame log's lines as the frames go, each written out at once.
    FrameLog log;
    LoggedLink logged(link, log);
    QFile trace;
    if (!request.trace.isEmpty()) {
        const bool opened =
            request.trace == QStringLiteral("-")
                ? trace.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered)
                : (trace.setFileName(request.trace), trace.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (!opened) {
            err << "kelmora-cli: cannot write the trace to " << request.trace << '\n';
            return int(CliExit::Usage);
        }
        log.setListener([&](quint64 seq) {
            trace.write((RecordLine(log.at(seq)) + QLatin1Char('\n')).toUtf8());
            trace.flush();
        });
    }
    CliSession session(request, logged, open, {out, err, bool(isatty(STDERR_FILENO))});
    session.setPdfPainter(paint);
    return session.run();
}
