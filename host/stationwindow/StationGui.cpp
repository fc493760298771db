// zarvik-host gui: the station window (StationWindow.h) on the serial port
// service, with the driver loaded from the library as any host does
// (loader/DriverLibrary.h). Without --port an embedded simulated station is served
// on a pseudo-terminal.
#include "stationwindow/StationGui.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QTimer>
#include <QTranslator>
#include <exception>
#include <iostream>
#include <memory>

#include "StationScreenshot.h"
#include "hostkit/ExitCodes.h"
#include "loader/DriverLibrary.h"
#include "loader/DriverSlots.h"
#include "port/PortErrors.h"
#include "port/SerialPortManager.h"
#include "station/Capture.h"
#include "station/EmbeddedSimulator.h"
#include "stationwindow/StationWindow.h"

namespace zarvik::host {

namespace {

constexpr int kMsPerSecond = 1000;
constexpr double kSimulatedFlow = 2.5;  // litres a second

// The lines the window shows: the station file's, or one line on the device
// (the embedded station's when no port was given).
std::vector<StationLine> WindowLines(const GuiOptions& options, const std::string& device) {
    if (!options.station.empty()) return options.station;
    StationLine line;
    line.line = options.line;
    line.device = device;
    for (int d = 1; d <= options.dispensers; ++d) line.dispensers.push_back({d, options.nozzles, {}, {}});
    return {line};
}

StationWindowLine Shown(const StationLine& line) {
    PolledLine polled{line.line, {}};
    for (const StationDispenser& d : line.dispensers)
        polled.dispensers.push_back({d.number, d.nozzles, QString::fromStdString(d.name)});
    return {polled, QString::fromStdString(line.device)};
}

// Opens each line through the driver; a line that does not open is shown
// as such by its poller (the window still runs).
void OpenLines(TDriver25* driver, const port::SerialPortManager& port, const std::vector<StationLine>& lines) {
    for (const StationLine& line : lines) {
        const std::int32_t opened = slots::OpenPort(driver, line.line);
        if (opened == 0) continue;
        const std::string cause = port.LineFault(line.line).text;
        std::cerr << "zarvik-host gui: line " << line.line << " not open: " << port::DescribeLineError(opened) << " ("
                  << opened << ")" << (cause.empty() ? "" : ": ") << cause << "\n";
    }
}

}  // namespace

// Qt's own texts (standard buttons: "OK", "Cancel") in the user's language
// where the system has Qt's translation of them.
static void InstallQtTexts(QTranslator& texts) {
    if (texts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&texts);
}

int RunStationGui(const GuiOptions& options, int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("zarvik-host"));
    QTranslator qtTexts;
    InstallQtTexts(qtTexts);

    std::unique_ptr<EmbeddedSimulator> simulator;
    std::string device = options.port;
    try {
        if (device.empty() && options.station.empty()) {
            sim::StationConfig config;
            config.nozzlesPerDispenser = options.nozzles;
            config.timing.flowLitresPerSecond = kSimulatedFlow;
            simulator = std::make_unique<EmbeddedSimulator>(config);
            device = simulator->Start();
        }
    } catch (const std::exception& error) {
        std::cerr << "zarvik-host gui: simulator: " << error.what() << "\n";
        return kExitExchangeFailed;
    }

    // Stays loaded to the end (and mapped beyond): its windows live as long
    // as ours.
    DriverLibrary library;
    std::unique_ptr<capture::CaptureWriter> capture;
    port::FrameTraceHook trace;  // the capture's, given to the window with its own
    port::SerialPortManager port;
    const std::vector<StationLine> lines = WindowLines(options, device);
    for (const StationLine& line : lines) ConfigureLine(port, line);
    try {
        library.Load(options.library.empty() ? DefaultLibraryPath() : options.library);
        if (!options.capture.empty()) {
            capture = std::make_unique<capture::CaptureWriter>(
                options.capture, options.overwrite ? capture::CaptureWriter::Existing::kOverwrite
                                                   : capture::CaptureWriter::Existing::kRefuse);
            trace = [&capture](const port::FrameTraceEvent& e) { RecordFrame(*capture, e); };
            port.SetTraceHook(trace);  // the window adds its own reader when it attaches
        }
    } catch (const std::exception& error) {
        std::cerr << "zarvik-host gui: " << error.what() << "\n";
        return kExitConfig;
    }

    std::vector<StationWindowLine> shown;
    for (const StationLine& line : lines) shown.push_back(Shown(line));
    auto window = std::make_unique<StationWindow>(std::move(shown));
    // The library's windows take the main window as their parent.
    std::unique_ptr<TDriver25> driver(library.Create(0, &port, reinterpret_cast<std::intptr_t>(window.get())));
    if (driver == nullptr) {
        std::cerr << "zarvik-host gui: GetVM30 returned no driver object\n";
        return kExitConfig;
    }
    // However this function ends, no poll runs once the driver is gone.
    const auto stopPolling = qScopeGuard([&window] {
        if (window) window->StopPolling();
    });
    try {
        OpenLines(driver.get(), port, lines);
        window->Attach(driver.get(), port, trace);
    } catch (const std::exception& error) {
        std::cerr << "zarvik-host gui: " << error.what() << "\n";
        return kExitConfig;
    }
    window->show();

    int exitCode = 0;
    if (!options.screenshot.empty())
        QTimer::singleShot(static_cast<int>(options.screenshotAfter * kMsPerSecond), window.get(),
                           [&] { TakeScreenshot(window.get(), options, exitCode); });
    const int loopCode = QApplication::exec();
    // The driver goes before the window (the parent of the library's
    // windows) and the port service.
    window->StopPolling();
    driver.reset();
    window.reset();
    if (capture && !CheckCapture(*capture, std::cerr) && exitCode == 0) exitCode = kExitRecordIncomplete;
    return exitCode != 0 ? exitCode : loopCode;
}

}  // namespace zarvik::host
