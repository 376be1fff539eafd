// The Python module over the library (_felbrin; the felbrin package wraps
// it): data files into numpy arrays that own the library's buffers, the
// other readers into dictionaries and arrays, and calcheck's checks.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "app/data_input.h"
#include "app/file_kinds.h"
#include "app/messages.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/pairs.h"
#include "data/ascii_file.h"
#include "data/data_set.h"
#include "data/point_list.h"
#include "instrument/acquisition/cam_bad.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/ramps/ramp_file.h"
#include "platform/platform.h"
#include "python/record_fields.h"

namespace py = pybind11;
using felbrin::python::Field;

namespace {

// felbrin.Error, handed over by the package when it is imported. Held for
// the life of the process: the interpreter may be gone when statics die.
PyObject* g_error = nullptr;

// The library reports through one log hook, which the message collector
// takes over; reads run without the interpreter lock, one at a time.
std::mutex g_library;

std::string code_name(int code) { return err_name(code); }

// A text the library made, which may quote bytes of a file that are not
// UTF-8: those come through escaped, never as a decoding error.
py::str text_of(const std::string& s) {
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "backslashreplace"));
}

[[noreturn]] void raise_error(int code, const std::string& message) {
  if (g_error == nullptr) throw std::runtime_error(code_name(code) + ": " + message);
  py::object error =
      py::reinterpret_borrow<py::object>(g_error)(code, code_name(code), text_of(message));
  PyErr_SetObject(g_error, error.ptr());
  throw py::error_already_set();
}

// The library's messages as one text, or the code's name without any.
std::string message_of(const std::vector<app::LibraryMessage>& messages, int code) {
  std::string text;
  for (const app::LibraryMessage& m : messages) {
    if (!text.empty()) text += '\n';
    text += m.text;
  }
  return text.empty() ? code_name(code) : text;
}

// ---- record fields as Python values

py::object field_value(const unsigned char* record, const Field& f) {
  const unsigned char* p = record + f.offset;
  const auto one = [&](int i) -> py::object {
    switch (f.kind) {
      case Field::kI16: {
        int16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        return py::int_(v);
      }
      case Field::kU16: {
        uint16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        return py::int_(v);
      }
      case Field::kI32: {
        int32_t v;
        std::memcpy(&v, p + 4 * i, 4);
        return py::int_(v);
      }
      case Field::kU32: {
        uint32_t v;
        std::memcpy(&v, p + 4 * i, 4);
        return py::int_(v);
      }
      case Field::kF32: {
        float v;
        std::memcpy(&v, p + 4 * i, 4);
        return py::float_(v);
      }
      default: return py::none();
    }
  };
  if (f.kind == Field::kText) {
    // A text holds its bytes up to its first zero; taken as Latin-1, so
    // that every byte an instrument wrote comes through.
    const auto n = static_cast<std::size_t>(f.count);
    const auto* end = static_cast<const unsigned char*>(std::memchr(p, 0, n));
    const std::size_t len = end != nullptr ? static_cast<std::size_t>(end - p) : n;
    return py::reinterpret_steal<py::object>(PyUnicode_DecodeLatin1(
        reinterpret_cast<const char*>(p), static_cast<Py_ssize_t>(len), nullptr));
  }
  if (f.kind == Field::kBytes)
    return py::bytes(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.count));
  if (f.count == 1) return one(0);
  py::list values;
  for (int i = 0; i < f.count; ++i) values.append(one(i));
  return py::tuple(values);
}

template <std::size_t N>
py::dict fields_dict(const void* record, const Field (&fields)[N]) {
  py::dict d;
  for (const Field& f : fields)
    d[f.name] = field_value(static_cast<const unsigned char*>(record), f);
  return d;
}

// ---- arrays over the library's buffers

// An array that owns a block from the allocation hooks, freed through them
// when the last view of it goes.
template <class T>
py::array_t<T> owning_array(T* data, std::vector<py::ssize_t> shape) {
  py::capsule owner(data, [](void* p) { u_free_fn(p); });
  return py::array_t<T>(shape, data, owner);
}

template <class T>
py::array_t<T> empty_array(std::vector<py::ssize_t> shape) {
  return py::array_t<T>(shape);
}

// A read data file. The arrays own the matrices the reader filled.
struct DataFile {
  std::string format;
  df_source_info_t source{};
  df_header_t header{};
  wn_window_t phase_window{};
  wn_window_t intensity_window{};
  int16_t aux = 0;
  py::array_t<int32_t> phase_raw;
  py::array_t<uint16_t> intensity;
};

DataFile read_data(const std::string& path) {
  felbrin::DataSet d;
  app::DataFileRead r;
  std::vector<app::LibraryMessage> messages;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard lock(g_library);
    app::MessageCollector collector;
    r = app::read_data_file(path.c_str(), d);
    messages = collector.take();
  }
  if (r.rc != 0) raise_error(r.rc, message_of(messages, r.rc));
  DataFile f;
  f.format = r.format;
  f.source = d.source;
  f.header = d.header;
  f.phase_window = d.phase.window;
  f.intensity_window = d.intensity.window;
  f.aux = d.intensity.aux;
  const py::ssize_t rows = d.phase.window.height, cols = d.phase.window.width;
  if (d.phase.matrix != nullptr) {
    f.phase_raw = owning_array(std::exchange(d.phase.matrix, nullptr), {rows, cols});
    d.phase.size = 0;
  } else {
    f.phase_raw = empty_array<int32_t>({0, 0});
  }
  const py::ssize_t buckets = d.intensity.n_buckets, irows = d.intensity.window.height,
                    icols = d.intensity.window.width;
  if (d.intensity.matrix != nullptr) {
    f.intensity = owning_array(std::exchange(d.intensity.matrix, nullptr), {buckets, irows, icols});
    d.intensity.size = 0;
  } else {
    f.intensity = empty_array<uint16_t>({0, 0, 0});
  }
  return f;
}

// phase_raw as one run of values (a copy when a script made it a strided
// view); a script may also have put an array of another shape there.
py::array_t<int32_t, py::array::c_style> contiguous_raw(const DataFile& f) {
  auto raw = py::array_t<int32_t, py::array::c_style>::ensure(f.phase_raw);
  if (!raw || raw.ndim() != 2)
    raise_error(ERR_INVALID_PARAM, "phase_raw is not an int32 array of rows and columns");
  return raw;
}

// A flat loop the compiler turns into vector code.
py::array_t<double> phase_of(const DataFile& f) {
  const auto raw = contiguous_raw(f);
  py::array_t<double> out({raw.shape(0), raw.shape(1)});
  const int32_t* r = raw.data();
  double* o = out.mutable_data();
  const py::ssize_t n = raw.size();
  {
    py::gil_scoped_release unlocked;
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    for (py::ssize_t i = 0; i < n; ++i)
      o[i] = r[i] < MX_INVALID_I32 ? static_cast<double>(r[i]) : kNaN;
  }
  return out;
}

py::array_t<bool> valid_of(const DataFile& f) {
  const auto raw = contiguous_raw(f);
  py::array_t<bool> out({raw.shape(0), raw.shape(1)});
  const int32_t* r = raw.data();
  bool* o = out.mutable_data();
  for (py::ssize_t i = 0; i < raw.size(); ++i) o[i] = r[i] < MX_INVALID_I32;
  return out;
}

// The records a writer takes, over the arrays as they are now (a script may
// have changed them); refused when an array no longer fits its window.
struct WriterView {
  mx_i32_t phase{};
  mx_bkt16_t intensity{};
  bool have_phase = false, have_intensity = false;
  // Held while the writer runs without the interpreter lock: another thread
  // may put other arrays into the DataFile meanwhile.
  py::array_t<int32_t> phase_owner;
  py::array_t<uint16_t> intensity_owner;
};

WriterView writer_view(DataFile& f) {
  WriterView v;
  v.phase_owner = f.phase_raw;
  v.intensity_owner = f.intensity;
  auto& p = v.phase_owner;
  if (p.ndim() != 2 || p.shape(0) != f.phase_window.height || p.shape(1) != f.phase_window.width ||
      (p.flags() & py::array::c_style) == 0)
    raise_error(ERR_INVALID_PARAM, "phase_raw no longer matches the phase window");
  auto& i = v.intensity_owner;
  if (i.ndim() != 3 || i.shape(1) != f.intensity_window.height ||
      i.shape(2) != f.intensity_window.width || (i.flags() & py::array::c_style) == 0)
    raise_error(ERR_INVALID_PARAM, "intensity no longer matches the intensity window");
  if (p.size() > 0) {
    v.phase = {static_cast<int32_t>(p.size()), f.phase_window, p.mutable_data()};
    v.have_phase = true;
  }
  if (i.size() > 0) {
    v.intensity.size = static_cast<int32_t>(i.size());
    v.intensity.window = f.intensity_window;
    v.intensity.n_buckets = static_cast<int16_t>(i.shape(0));
    v.intensity.aux = f.aux;
    v.intensity.matrix = i.mutable_data();
    v.have_intensity = true;
  }
  return v;
}

template <class Write>
void run_writer(Write&& write) {
  int rc = 0;
  std::vector<app::LibraryMessage> messages;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard lock(g_library);
    app::MessageCollector collector;
    rc = write();
    messages = collector.take();
  }
  if (rc != 0) raise_error(rc, message_of(messages, rc));
}

void write_ascii(const std::string& path, DataFile& f) {
  WriterView v = writer_view(f);
  run_writer([&] {
    return df_write_ascii_file(path.c_str(), &f.source, &f.header,
                               v.have_intensity ? &v.intensity : nullptr,
                               v.have_phase ? &v.phase : nullptr);
  });
}

void write_point_list(const std::string& path, DataFile& f) {
  WriterView v = writer_view(f);
  if (!v.have_phase) raise_error(ERR_INVALID_PARAM, "the data file has no phase map");
  run_writer([&] { return df_write_point_list(path.c_str(), &v.phase); });
}

// ---- the other readers

// As calcheck prints it: one line, its line ends blanks.
py::tuple finding(const calcheck::Finding& f, int code) {
  std::string text = f.text;
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  std::replace(text.begin(), text.end(), '\n', ' ');
  return py::make_tuple(f.line > 0 ? py::object(py::int_(f.line)) : py::none(),
                        f.error ? "error" : "note", code, text_of(text));
}

// What calcheck says about a file: its findings, and the code when the
// reader failed.
py::list check(const std::string& path, const std::optional<std::string>& kind_name) {
  const calcheck::FileKind* kind = nullptr;
  if (kind_name) {
    kind = calcheck::find_kind(*kind_name);
    if (kind == nullptr)
      raise_error(ERR_INVALID_PARAM,
                  "unknown kind \"" + *kind_name + "\"; the kinds are " + calcheck::kind_names());
  }
  calcheck::Checked c;
  bool known = true;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard lock(g_library);
    if (kind == nullptr) kind = calcheck::detect_kind(path.c_str());
    known = kind != nullptr;
    if (known) c = kind->check(path.c_str(), false);
  }
  py::list out;
  if (!known) {
    out.append(py::make_tuple(py::none(), "error", 0,
                              "cannot tell what kind of file this is; name it with kind= (" +
                                  calcheck::kind_names() + ")"));
    return out;
  }
  for (const calcheck::Finding& f : c.findings) out.append(finding(f, c.rc));
  if (c.rc != 0)
    out.append(py::make_tuple(py::none(), "error", c.rc, "cannot be read: " + code_name(c.rc)));
  return out;
}

// "Keyword = values" lines into a dictionary; a keyword given on several
// lines keeps them all, in order, as a list.
py::tuple read_calibration(const std::string& path) {
  calcheck::Checked c;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard lock(g_library);
    c = calcheck::find_kind("calibration")->check(path.c_str(), true);
  }
  if (c.rc != 0) {
    std::string text;
    for (const calcheck::Finding& f : c.findings)
      text += (text.empty() ? "" : "\n") +
              (f.line > 0 ? "line " + std::to_string(f.line) + ": " : "") + f.text;
    raise_error(c.rc, text.empty() ? code_name(c.rc) : text);
  }
  py::dict values;
  std::size_t start = 0;
  while (start < c.shown.size()) {
    std::size_t end = c.shown.find('\n', start);
    if (end == std::string::npos) end = c.shown.size();
    const std::string line = c.shown.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = line.find(" = ");
    const std::string key = line.substr(0, eq);
    const py::object value =
        eq == std::string::npos ? py::object(py::none()) : py::str(line.substr(eq + 3));
    const py::str k = text_of(key);
    if (!values.contains(k)) {
      values[k] = value;
    } else if (py::isinstance<py::list>(values[k])) {
      values[k].cast<py::list>().append(value);
    } else {
      py::list both;
      both.append(values[k]);
      both.append(value);
      values[k] = both;
    }
  }
  py::list messages;
  for (const calcheck::Finding& f : c.findings) messages.append(finding(f, c.rc));
  return py::make_tuple(values, messages);
}

py::tuple read_ramp(const std::string& path) {
  rr_ramp_hdr_t hdr{};
  uint16_t* points = nullptr;
  int rc = 0;
  {
    py::gil_scoped_release unlocked;
    rc = rr_read_ramp_file(path.c_str(), &hdr, &points);
  }
  if (rc != 0) raise_error(rc, code_name(rc));
  py::array_t<uint16_t> array =
      points != nullptr ? owning_array(points, {hdr.nPoints}) : empty_array<uint16_t>({0});
  return py::make_tuple(fields_dict(&hdr, felbrin::python::kRampHeaderFields), array);
}

py::array_t<double> read_pairs(const std::string& path) {
  u_pair_table_t table;
  int rc = 0;
  std::vector<app::LibraryMessage> messages;
  {
    py::gil_scoped_release unlocked;
    std::lock_guard lock(g_library);
    app::MessageCollector collector;
    rc = u_read_pairs(path.c_str(), &table);
    messages = collector.take();
  }
  if (rc != 0) raise_error(rc, message_of(messages, rc));
  const auto pairs = table.view();
  py::array_t<double> out({static_cast<py::ssize_t>(pairs.size()), py::ssize_t{2}});
  auto o = out.mutable_unchecked<2>();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    o(static_cast<py::ssize_t>(i), 0) = pairs[i].x;
    o(static_cast<py::ssize_t>(i), 1) = pairs[i].y;
  }
  return out;
}

py::list read_bad_pixels(const std::string& path) {
  cam_bad_table_ptr table(
      static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t))));
  if (!table) raise_error(ERR_NO_MEM, code_name(ERR_NO_MEM));
  int count = 0, rc = 0;
  std::string message;
  {
    py::gil_scoped_release unlocked;
    rc = cam_bad_file_read(path.c_str(), table.get(), &count, &message);
  }
  if (rc != 0) raise_error(rc, message.empty() ? code_name(rc) : message);
  py::list sections;
  for (int i = 0; i < count; ++i) {
    const cam_bad_entry_t& e = table.get()[i];
    py::array_t<int32_t> pixels({static_cast<py::ssize_t>(e.badPixels.count), py::ssize_t{2}});
    auto p = pixels.mutable_unchecked<2>();
    for (int k = 0; k < e.badPixels.count; ++k) {
      p(k, 0) = e.badPixels.data[k].x;
      p(k, 1) = e.badPixels.data[k].y;
    }
    sections.append(py::make_tuple(e.grabMode, e.grabUnder, e.sizeX, e.sizeY, e.grabRate, pixels));
  }
  return sections;
}

// ---- counting the library's blocks, for the leak tests

std::atomic<long> g_live_blocks{0};
std::once_flag g_counting;

void* counted_malloc(std::size_t n) {
  void* p = std::malloc(n);
  if (p != nullptr) ++g_live_blocks;
  return p;
}
void* counted_calloc(std::size_t n, std::size_t size) {
  void* p = std::calloc(n, size);
  if (p != nullptr) ++g_live_blocks;
  return p;
}
void* counted_realloc(void* block, std::size_t n) {
  void* p = std::realloc(block, n);
  if (block == nullptr && p != nullptr) ++g_live_blocks;
  return p;
}
void counted_free(void* block) {
  if (block != nullptr) --g_live_blocks;
  std::free(block);
}

// Installs counting allocation hooks the first time (before any block is
// held) and returns the blocks the library holds.
long live_blocks() {
  std::call_once(g_counting, [] {
    u_malloc_fn.exchange(counted_malloc);
    u_calloc_fn.exchange(counted_calloc);
    u_realloc_fn.exchange(counted_realloc);
    u_free_fn.exchange(counted_free);
  });
  return g_live_blocks.load();
}

}  // namespace

PYBIND11_MODULE(_felbrin, m) {
  m.doc() = "The felbrin library's readers and writers; use the felbrin package.";
  m.def(
      "_set_error_type",
      [](py::object type) {
        Py_XDECREF(g_error);
        g_error = type.release().ptr();
      },
      "Sets the exception type raised for the library's error codes.");

  m.def("_live_blocks", &live_blocks,
        "Blocks the library holds from its allocation hooks (counting starts with the first "
        "call, which must come before any block is held); for leak tests.");

  py::class_<DataFile>(m, "DataFile", "A measurement data file as read (binary or ASCII).")
      .def_readonly("format", &DataFile::format,
                    "\"binary\" or \"ascii\": the reader that read it.")
      .def_readwrite("phase_raw", &DataFile::phase_raw,
                     "int32 (rows, columns): the phase values as stored; 2147483640 and above "
                     "mark invalid pixels. Owns the reader's buffer; the writers use it as it is "
                     "now.")
      .def_readwrite("intensity", &DataFile::intensity,
                     "uint16 (buckets, rows, columns): the intensity frames.")
      .def_property_readonly("phase", &phase_of,
                             "float64 (rows, columns): the phase values, NaN at invalid pixels.")
      .def_property_readonly("valid", &valid_of, "bool (rows, columns): the valid pixels.")
      .def_property_readonly(
          "phase_origin",
          [](const DataFile& f) { return py::make_tuple(f.phase_window.x, f.phase_window.y); },
          "(x, y): the camera column and row of the phase map's first pixel.")
      .def_property_readonly(
          "intensity_origin",
          [](const DataFile& f) {
            return py::make_tuple(f.intensity_window.x, f.intensity_window.y);
          },
          "(x, y): the camera column and row of the intensity frames' first pixel.")
      .def_property_readonly(
          "aux", [](const DataFile& f) { return f.aux; },
          "The intensity block's auxiliary word, carried as is.")
      .def_property_readonly(
          "header",
          [](const DataFile& f) { return fields_dict(&f.header, felbrin::python::kHeaderFields); },
          "Every header field by its record name (hNNN: its offset in the binary file); texts as "
          "str, byte fields as bytes, arrays as tuples.")
      .def_property_readonly(
          "source",
          [](const DataFile& f) { return fields_dict(&f.source, felbrin::python::kSourceFields); },
          "The source information: info_word0..3 and info_text.");

  m.def("read_data", &read_data, py::arg("path"),
        "Reads a binary or ASCII data file (binary first). Raises Error on failure.");
  m.def("write_ascii", &write_ascii, py::arg("path"), py::arg("data"),
        "Writes a data file as an ASCII data file with the library's writer.");
  m.def("write_point_list", &write_point_list, py::arg("path"), py::arg("data"),
        "Writes the phase map as mapconv's point list with the library's writer.");
  m.def("check", &check, py::arg("path"), py::arg("kind") = py::none(),
        "What calcheck says about a file: a list of (line, severity, code, text).");
  m.def("read_calibration", &read_calibration, py::arg("path"),
        "Reads a calibration file: (values, messages).");
  m.def("read_ramp", &read_ramp, py::arg("path"), "Reads a ramp data file: (header, points).");
  m.def("read_pairs", &read_pairs, py::arg("path"),
        "Reads a coordinate pair file: float64 (n, 2).");
  m.def("read_bad_pixels", &read_bad_pixels, py::arg("path"),
        "Reads a camera bad-pixel file: a list of (grab_mode, grab_under, width, height, rate, "
        "pixels) with pixels int32 (n, 2) of (x, y).");
}
