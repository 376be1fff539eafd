// Reading the scenario file: the format is described in scenario.h.
#include "sim/acquisition/scenario.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstddef>

namespace sim::acq {

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kValuePrefix = "VALUE.";
// An ID no line gave; made up from the positions at the end.
constexpr int32_t kUnsetId = INT32_MIN;

std::string_view trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return upper(x) == upper(y); });
}

bool starts_with_name(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && same_name(s.substr(0, prefix.size()), prefix);
}

bool to_int(std::string_view s, int32_t& out) {
  s = trim(s);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

bool to_double(std::string_view s, double& out) {
  s = trim(s);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

bool to_flag(std::string_view s, bool& out) {
  int32_t v = 0;
  if (!to_int(s, v) || (v != 0 && v != 1)) return false;
  out = v == 1;
  return true;
}

// "a, , b": three elements, the middle one missing; "" is no element.
std::vector<std::optional<std::string>> split_names(std::string_view s) {
  std::vector<std::optional<std::string>> names;
  if (trim(s).empty()) return names;
  for (;;) {
    const std::size_t comma = s.find(',');
    const std::string_view item = trim(s.substr(0, comma));
    if (item.empty()) {
      names.emplace_back();
    } else {
      names.emplace_back(std::string(item));
    }
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  return names;
}

struct Line {
  int number;
  std::string_view key;
  std::string_view value;
};

struct Section {
  int number;
  std::string name;
  std::vector<Line> lines;
};

std::string at(int line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

// "ACQDEVICE2.INPUT1.MODE3" → {2, 1, 3}; false when the name is not of
// this form.
bool section_path(std::string_view name, std::vector<int32_t>& path) {
  static constexpr std::string_view kParts[] = {"ACQDEVICE", "INPUT", "MODE"};
  path.clear();
  for (const std::string_view part : kParts) {
    if (!starts_with_name(name, part)) return false;
    name.remove_prefix(part.size());
    const std::size_t dot = name.find('.');
    int32_t n = 0;
    if (!to_int(name.substr(0, dot), n) || n < 1) return false;
    path.push_back(n);
    if (dot == std::string_view::npos) return true;
    name.remove_prefix(dot + 1);
  }
  return false;
}

// The node the path names, or null when a position lies past its list.
Node* node_at(Node& library, const std::vector<int32_t>& path) {
  Node* node = &library;
  for (const int32_t n : path) {
    if (n > static_cast<int32_t>(node->children.size())) return nullptr;
    node = &node->children[static_cast<std::size_t>(n - 1)];
  }
  return node;
}

void make_children(Node& node, std::string_view names) {
  node.children.clear();
  for (auto& name : split_names(names)) {
    Node child;
    child.name = std::move(name);
    child.id = kUnsetId;
    node.children.push_back(std::move(child));
  }
}

// One key of a device, input or mode section (depth 1, 2 or 3).
bool node_key(Node& node, int depth, const Line& line, std::string& message) {
  static constexpr std::string_view kListKey[] = {"INPUTS", "MODES"};
  static constexpr std::string_view kCountKey[] = {"INPUT_COUNT", "MODE_COUNT"};
  if (starts_with_name(line.key, kValuePrefix)) {
    const std::string_view key = trim(line.key.substr(kValuePrefix.size()));
    double v = 0;
    if (key.empty() || !to_double(line.value, v)) {
      message = at(line.number, "a value needs a key and a number");
      return false;
    }
    node.values.insert_or_assign(std::string(key), v);
    return true;
  }
  if (same_name(line.key, "ID")) {
    if (to_int(line.value, node.id)) return true;
  } else if (same_name(line.key, "SELECT")) {
    if (to_flag(line.value, node.selectable)) return true;
  } else if (depth == 1 && same_name(line.key, "MODULE")) {
    return true;
  } else if (depth < 3 && same_name(line.key, kListKey[depth - 1])) {
    make_children(node, line.value);
    return true;
  } else if (depth < 3 && same_name(line.key, kCountKey[depth - 1])) {
    int32_t n = 0;
    if (to_int(line.value, n)) {
      node.count = n;
      return true;
    }
  } else {
    message = at(line.number, "unknown key \"" + std::string(line.key) + "\"");
    return false;
  }
  message = at(line.number, "bad value \"" + std::string(line.value) + "\"");
  return false;
}

bool library_key(Scenario& s, const Line& line, std::string& message) {
  int32_t n = 0;
  if (same_name(line.key, "INIT")) {
    if (to_flag(line.value, s.init_ok)) return true;
  } else if (same_name(line.key, "INIT_ERROR")) {
    if (to_int(line.value, s.init_error)) return true;
  } else if (same_name(line.key, "DEVICES")) {
    make_children(s.library, line.value);
    return true;
  } else if (same_name(line.key, "DEVICE_COUNT")) {
    if (to_int(line.value, n)) {
      s.library.count = n;
      return true;
    }
  } else {
    message = at(line.number, "unknown key \"" + std::string(line.key) + "\"");
    return false;
  }
  message = at(line.number, "bad value \"" + std::string(line.value) + "\"");
  return false;
}

bool frames_key(Scenario& s, const Line& line, std::string& message) {
  if (same_name(line.key, "FRAME")) {
    FrameStep step;
    if (!parse_frame_step(line.value, step, message)) {
      message = at(line.number, message);
      return false;
    }
    s.frames.push_back(step);
    return true;
  }
  if (same_name(line.key, "LOOP")) {
    if (to_flag(line.value, s.loop)) return true;
    message = at(line.number, "bad value \"" + std::string(line.value) + "\"");
    return false;
  }
  message = at(line.number, "unknown key \"" + std::string(line.key) + "\"");
  return false;
}

bool split_sections(std::string_view text, std::vector<Section>& sections, std::string& message) {
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        message = at(number, "a section heading lacks its ']'");
        return false;
      }
      sections.push_back({number, std::string(trim(line.substr(1, close - 1))), {}});
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || sections.empty()) {
      message = at(number, "expected \"key = value\" inside a section");
      return false;
    }
    sections.back().lines.push_back({number, trim(line.substr(0, eq)), trim(line.substr(eq + 1))});
  }
  return true;
}

void make_up_ids(Node& node, int32_t base, int32_t step) {
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    Node& child = node.children[i];
    const int32_t id = base + step * static_cast<int32_t>(i + 1);
    if (child.id == kUnsetId) child.id = id;
    make_up_ids(child, id, step / 10);
  }
}

}  // namespace

bool parse_frame_step(std::string_view text, FrameStep& out, std::string& message) {
  std::vector<std::string_view> words;
  for (text = trim(text); !text.empty(); text = trim(text)) {
    const std::size_t end = text.find_first_of(kBlanks);
    words.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end);
  }
  std::vector<int32_t> numbers;
  for (std::size_t i = 1; i < words.size(); ++i) {
    int32_t n = 0;
    if (!to_int(words[i], n) || n < 0) {
      message = "bad number \"" + std::string(words[i]) + "\" in a frame";
      return false;
    }
    numbers.push_back(n);
  }
  out = FrameStep();
  if (!words.empty() && same_name(words[0], "FILL") && numbers.size() == 1) {
    out.kind = FrameKind::Fill;
    out.level = numbers[0];
  } else if (!words.empty() && same_name(words[0], "PIXELS") && numbers.size() == 3) {
    out.kind = FrameKind::Pixels;
    out.pixels = numbers[0];
    out.level = numbers[1];
    out.background = numbers[2];
  } else if (!words.empty() && same_name(words[0], "ERROR") && numbers.size() == 1 &&
             numbers[0] > 0) {
    out.kind = FrameKind::Error;
    out.error = numbers[0];
  } else {
    message = "a frame is FILL level, PIXELS count level background or ERROR number";
    return false;
  }
  return true;
}

bool parse_scenario(std::string_view text, Scenario& out, std::string& message) {
  out = Scenario();
  std::vector<Section> sections;
  if (!split_sections(text, sections, message)) return false;

  // The library section first, then devices before their inputs before
  // their modes: a section can only describe a position its parent lists.
  std::vector<std::pair<std::vector<int32_t>, const Section*>> nodes;
  for (const Section& section : sections) {
    bool ok = true;
    if (same_name(section.name, "FXSIM")) {
      for (const Line& line : section.lines) ok = ok && library_key(out, line, message);
    } else if (same_name(section.name, "FRAMES")) {
      for (const Line& line : section.lines) ok = ok && frames_key(out, line, message);
    } else {
      std::vector<int32_t> path;
      if (!section_path(section.name, path)) {
        message = at(section.number, "unknown section [" + section.name + "]");
        return false;
      }
      nodes.emplace_back(std::move(path), &section);
    }
    if (!ok) return false;
  }
  std::stable_sort(nodes.begin(), nodes.end(),
                   [](const auto& a, const auto& b) { return a.first.size() < b.first.size(); });
  for (const auto& [path, section] : nodes) {
    Node* node = node_at(out.library, path);
    if (node == nullptr) {
      message = at(section->number, "[" + section->name + "] is not in its parent's list");
      return false;
    }
    for (const Line& line : section->lines) {
      if (!node_key(*node, static_cast<int>(path.size()), line, message)) return false;
    }
  }
  make_up_ids(out.library, 0, 100);
  return true;
}

}  // namespace sim::acq
