// Comm Port entries: the text the lists show for a port and its device.
#include "hex/core/hexcore.h"

namespace {

// The value of KEY in KEY=VALUE lines (an "E:" in front allowed); "" when
// absent.
std::string_view property(std::string_view properties, std::string_view key) {
  while (!properties.empty()) {
    const size_t end = properties.find('\n');
    std::string_view line = properties.substr(0, end);
    properties = end == std::string_view::npos ? std::string_view() : properties.substr(end + 1);
    if (line.substr(0, 2) == "E:")
      line.remove_prefix(2);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=')
      return line.substr(key.size() + 1);
  }
  return {};
}

// udev's "_ENC" form keeps the device's own string with \xNN escapes; the
// plain form has '_' for blanks.
std::string decoded(std::string_view encoded, std::string_view plain) {
  std::string text;
  if (encoded.empty()) {
    for (char c : plain)
      text += c == '_' ? ' ' : c;
  } else {
    for (size_t i = 0; i < encoded.size(); ++i) {
      const int high = i + 3 < encoded.size() && encoded.substr(i, 2) == "\\x"
                           ? hex_digit_value(encoded[i + 2])
                           : -1;
      const int low = high >= 0 ? hex_digit_value(encoded[i + 3]) : -1;
      if (low >= 0) {
        text += char(high * 16 + low);
        i += 3;
      } else {
        text += encoded[i];
      }
    }
  }
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '?';
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

}  // namespace

bool hex_is_remote_device(std::string_view path) {
  for (std::string_view scheme : {"rfc2217://", "tcp://"})
    if (path.size() > scheme.size() && path.substr(0, scheme.size()) == scheme)
      return true;
  return false;
}

std::string hex_udev_identity(std::string_view properties) {
  struct Field {
    const char *encoded, *plain, *database;
  };
  constexpr Field kFields[] = {
      {"ID_VENDOR_ENC", "ID_VENDOR", "ID_VENDOR_FROM_DATABASE"},
      {"ID_MODEL_ENC", "ID_MODEL", "ID_MODEL_FROM_DATABASE"},
      {"", "ID_SERIAL_SHORT", ""},
  };
  std::string identity;
  for (const Field &field : kFields) {
    std::string_view plain = property(properties, field.plain);
    if (plain.empty() && *field.database)
      plain = property(properties, field.database);
    const std::string part =
        decoded(*field.encoded ? property(properties, field.encoded) : "", plain);
    if (part.empty())
      continue;
    if (!identity.empty())
      identity += ' ';
    identity += part;
  }
  return identity;
}

std::string hex_port_entry_text(int port, const HexDeviceFacts &facts) {
  std::string text = port >= 0 && port < HEX_PORTS ? hex_portnames[port] : "?";
  text += ' ';
  text += facts.path;
  if (!facts.node.empty() && facts.state == HexDeviceState::Present) {
    // Nodes under /dev by their kernel names ("ttyUSB0", "pts/3").
    const std::string_view node(facts.node);
    text += " (";
    text += node.substr(0, 5) == "/dev/" ? node.substr(5) : node;
    text += ')';
  }
  if (facts.state == HexDeviceState::Absent)
    text += " (absent)";
  else if (facts.state == HexDeviceState::Remote)
    text += " (remote)";
  if (!facts.identity.empty())
    text += ' ' + facts.identity;
  return text;
}
