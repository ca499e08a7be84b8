// Qt Serial Port as a peer (see Peers.h): QSerialPort on the pty's slave, readyRead handled on
// the main thread in the application's event loop, the way a Qt program reads a port.
#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>

#include "bench/PeerMain.h"

namespace {

bool OpenPort(QSerialPort& port) {
  port.setBaudRate(QSerialPort::Baud115200);
  port.setDataBits(QSerialPort::Data8);
  port.setParity(QSerialPort::NoParity);
  port.setStopBits(QSerialPort::OneStop);
  port.setFlowControl(QSerialPort::NoFlowControl);
  if (port.open(QIODevice::ReadWrite)) return true;
  std::fprintf(stderr, "QSerialPort: %s\n", qPrintable(port.errorString()));
  return false;
}

int Latency(QCoreApplication& app, QSerialPort& port, const bench::PeerOptions& o) {
  const auto series = bench::MakeLatencySeries(o);
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    const std::int64_t now = bench::NowNs();
    if (port.readAll().isEmpty()) return;
    series->Arrived(now);
    if (series->Done()) app.quit();
  });
  // One timer for the whole series, far beyond it: it never fires in a run that goes well.
  QTimer::singleShot(series->BudgetMs(), &app, &QCoreApplication::quit);
  series->Start();
  app.exec();
  if (!series->Done()) {
    std::fprintf(stderr, "Qt Serial Port: %d bytes of the series arrived\n", series->Arrivals());
    return 1;
  }
  bench::SaySeries(o, *series);
  return 0;
}

int Throughput(QCoreApplication& app, QSerialPort& port, const bench::PeerOptions& o) {
  std::size_t bytes = 0;
  long calls = 0;
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    ++calls;
    bytes += static_cast<std::size_t>(port.readAll().size());
    if (bytes >= o.bytes) app.quit();
  });
  QTimer::singleShot(120000, &app, &QCoreApplication::quit);
  const auto before = bench::ProcessCost::Now();
  bench::SayReady();
  app.exec();
  const auto cost = bench::ProcessCost::Now() - before;
  if (bytes < o.bytes) {
    std::fprintf(stderr, "Qt Serial Port: %zu of %zu bytes arrived\n", bytes, o.bytes);
    return 1;
  }
  bench::SayRun(bytes, calls, cost);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PeerOptions o = bench::ParsePeerOptions(argc, argv);
  QCoreApplication app(argc, argv);
  QSerialPort port(QString::fromStdString(o.slave));
  if (!OpenPort(port)) return 1;
  return o.mode == "latency" ? Latency(app, port, o) : Throughput(app, port, o);
}
