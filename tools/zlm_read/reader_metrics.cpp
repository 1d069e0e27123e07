#include "tools/zlm_read/reader_metrics.h"

#include <charconv>
#include <chrono>
#include <optional>

namespace {

constexpr std::array<double, 9> kCycleBounds = {0.05, 0.1, 0.2, 0.35, 0.5, 1, 2, 5, 10};
constexpr std::array<double, 10> kExchangeBounds = {0.005, 0.01, 0.02, 0.035, 0.05,
                                                    0.1,   0.2,  0.35, 0.5,   1};

// A sample value: the shortest text that reads back as the same double.
std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

// A label value with backslash, double quote and newline escaped.
std::string Escaped(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help) {
    m_text += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
  }
  void Sample(const std::string& name, const std::string& labels, const std::string& value) {
    m_text += name;
    if (!labels.empty()) m_text += '{' + labels + '}';
    m_text += ' ' + value + '\n';
  }
  template <std::size_t N>
  void Buckets(const std::string& name, const std::string& labels, const Histogram<N>& h) {
    const std::string prefix = labels.empty() ? "" : labels + ",";
    for (std::size_t i = 0; i < N; ++i) {
      Sample(name + "_bucket", prefix + "le=\"" + Number(h.bounds[i]) + '"', Number(h.counts[i]));
    }
    Sample(name + "_bucket", prefix + "le=\"+Inf\"", Number(h.count));
    Sample(name + "_sum", labels, Number(h.sum));
    Sample(name + "_count", labels, Number(h.count));
  }
  std::string Take() { return std::move(m_text); }

 private:
  std::string m_text;
};

}  // namespace

ReaderMetrics::ReaderMetrics(std::string port, const std::vector<int>& addresses,
                             std::string version)
    : m_port(std::move(port)), m_version(std::move(version)) {
  // Every meter's series exist from the start, so rates are right from the
  // first scrape.
  for (const int address : addresses) MeterAt(address);
}

ReaderMetrics::Meter& ReaderMetrics::MeterAt(int address) {
  const auto [at, added] = m_meters.try_emplace(address);
  if (added) {
    at->second.cycle.bounds = kCycleBounds;
    at->second.exchange.bounds = kExchangeBounds;
  }
  return at->second;
}

void ReaderMetrics::Observe(Meter& meter, const CycleTiming& timing) {
  if (timing.exchangeSeconds.empty()) return;  // not asked
  meter.cycle.Observe(timing.seconds);
  for (const double seconds : timing.exchangeSeconds) meter.exchange.Observe(seconds);
}

void ReaderMetrics::Read(const MeterCycle& cycle) {
  std::lock_guard lock(m_mutex);
  Meter& meter = MeterAt(cycle.address);
  ++meter.good;
  meter.up = true;
  // Milliseconds, the precision of every other output's timestamps.
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(cycle.time.time_since_epoch());
  meter.lastGood = static_cast<double>(ms.count()) / 1000;
  Observe(meter, cycle.timing);
}

void ReaderMetrics::Failed(const MeterFailure& failure) {
  std::lock_guard lock(m_mutex);
  Meter& meter = MeterAt(failure.address);
  ++meter.failedBy[failure.lineDown ? std::string("line lost") : failure.message];
  meter.up = false;
  Observe(meter, failure.timing);
}

std::string ReaderMetrics::Text() const {
  std::map<int, Meter> meters;
  {
    std::lock_guard lock(m_mutex);
    meters = m_meters;
  }
  const std::string port = "port=\"" + Escaped(m_port) + '"';
  const auto meterLabels = [&port](int address) {
    return port + ",address=\"" + std::to_string(address) + '"';
  };
  Exposition out;
  out.Family("zlm_build_info", "gauge", "The reader's version; always 1.");
  out.Sample("zlm_build_info", "version=\"" + Escaped(m_version) + '"', "1");

  out.Family("zlm_meter_cycles_total", "counter", "Cycles of a meter read in full.");
  for (const auto& [address, meter] : meters) {
    out.Sample("zlm_meter_cycles_total", meterLabels(address), Number(meter.good));
  }
  out.Family("zlm_meter_cycle_failures_total", "counter",
             "Failed cycles of a meter, by the failing step's message (\"line lost\": the "
             "meter could not be asked).");
  for (const auto& [address, meter] : meters) {
    for (const auto& [cause, count] : meter.failedBy) {
      out.Sample("zlm_meter_cycle_failures_total",
                 meterLabels(address) + ",cause=\"" + Escaped(cause) + '"', Number(count));
    }
  }
  out.Family("zlm_meter_up", "gauge", "1 when the meter's last cycle was read in full.");
  for (const auto& [address, meter] : meters) {
    out.Sample("zlm_meter_up", meterLabels(address), meter.up ? "1" : "0");
  }
  out.Family("zlm_meter_last_good_timestamp_seconds", "gauge",
             "Unix time of the meter's last good reading; absent until there is one.");
  for (const auto& [address, meter] : meters) {
    if (meter.lastGood > 0) {
      out.Sample("zlm_meter_last_good_timestamp_seconds", meterLabels(address),
                 Number(meter.lastGood));
    }
  }
  out.Family("zlm_meter_cycle_duration_seconds", "histogram",
             "How long a meter's cycle took, failed ones included.");
  for (const auto& [address, meter] : meters) {
    out.Buckets("zlm_meter_cycle_duration_seconds", meterLabels(address), meter.cycle);
  }
  out.Family("zlm_exchange_duration_seconds", "histogram",
             "How long one exchange (request, echo, answer) took.");
  for (const auto& [address, meter] : meters) {
    out.Buckets("zlm_exchange_duration_seconds", meterLabels(address), meter.exchange);
  }

  if (m_lineCounts) {
    const LineKeeper::Counts line = m_lineCounts();
    out.Family("zlm_line_up", "gauge", "1 while the serial line is open.");
    out.Sample("zlm_line_up", port, line.opens > line.losses ? "1" : "0");
    out.Family("zlm_line_opens_total", "counter", "Times the line was opened.");
    out.Sample("zlm_line_opens_total", port, Number(line.opens));
    out.Family("zlm_line_open_failures_total", "counter", "Attempts to open the line that failed.");
    out.Sample("zlm_line_open_failures_total", port, Number(line.openFailures));
    out.Family("zlm_line_losses_total", "counter",
               "Times the line's device went away (unplugged, hung up).");
    out.Sample("zlm_line_losses_total", port, Number(line.losses));
    out.Family("zlm_line_reconnects_total", "counter", "Times the line was opened again.");
    out.Sample("zlm_line_reconnects_total", port, Number(line.opens > 0 ? line.opens - 1 : 0));
  }

  const std::optional<DeliveryStats> mqtt =
      m_delivery ? m_delivery->Delivery() : std::optional<DeliveryStats>();
  if (mqtt) {
    out.Family("zlm_mqtt_connected", "gauge", "1 while connected to the MQTT broker.");
    out.Sample("zlm_mqtt_connected", "", mqtt->connected ? "1" : "0");
    out.Family("zlm_mqtt_queue_messages", "gauge", "Messages waiting for the broker.");
    out.Sample("zlm_mqtt_queue_messages", "", Number(static_cast<std::uint64_t>(mqtt->queued)));
    out.Family("zlm_mqtt_dropped_messages_total", "counter",
               "Messages pushed out of the full queue, never delivered.");
    out.Sample("zlm_mqtt_dropped_messages_total", "", Number(mqtt->dropped));
    out.Family("zlm_mqtt_denied_messages_total", "counter", "Messages the broker refused.");
    out.Sample("zlm_mqtt_denied_messages_total", "", Number(mqtt->denied));
  }
  return out.Take();
}
