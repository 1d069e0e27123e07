#include "bench/simulator_thread.h"

#include "sim/com_link.h"
#include "sim/meter_values.h"

SimulatorThread::SimulatorThread(const std::string& portDir) : m_portDir(portDir) {
  m_line = PtyLine::Open();
  if (!m_line) return;
  PortRoots roots = DefaultPortRoots();
  roots.portDir = portDir;
  ComPortMap map(roots);
  const int n = FirstFreeComNumber(map);
  if (n == 0 || PublishComLink(portDir, n, m_line->SlavePath()) != PublishResult::kPublished) {
    return;
  }
  m_com = n;
  BusMeter meter;
  meter.address = 1;
  meter.frozen = true;
  m_bus = std::make_unique<MeterBus>();
  AttachMetersInService(*m_bus, {meter}, {});
  m_server = std::make_unique<MeterServer>(*m_line, *m_bus, m_log);
  m_thread = std::thread([this] { m_server->Run([this] { return m_stop.load(); }, nullptr); });
}

SimulatorThread::~SimulatorThread() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_com != 0) RemoveComLink(m_portDir, m_com, m_line->SlavePath());
}
