// Writes the qmdriver.cfg(5) man page from the template configuration, whose
// comments document every key: the page can never miss a key or disagree
// with the shipped default.
//
//   config_manpage TEMPLATE VERSION > qmdriver.cfg.5
//
// Template layout: "# --- Title ---" starts a section; comment lines before
// one or more "key=value" lines describe them; a blank line ends a group.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Text safe for roff: backslashes escaped, no control line made by accident.
std::string Roff(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

struct Group {
  std::vector<std::pair<std::string, std::string>> keys;
  std::vector<std::string> comment;
};

void Flush(Group& group, std::ostream& out) {
  if (group.keys.empty()) {
    if (!group.comment.empty()) {
      out << ".PP\n";
      for (const std::string& line : group.comment) out << Roff(line) << "\n";
    }
  } else {
    for (std::size_t i = 0; i < group.keys.size(); ++i) {
      const auto& [key, value] = group.keys[i];
      out << (i == 0 ? ".TP\n" : ".TQ\n") << ".B " << Roff(key) << "\n";
    }
    for (const std::string& line : group.comment) out << Roff(line) << "\n";
    out << ".br\nDefault: ";
    for (std::size_t i = 0; i < group.keys.size(); ++i) {
      const auto& [key, value] = group.keys[i];
      if (i > 0) out << ", ";
      if (group.keys.size() > 1) out << Roff(key) << " ";
      out << (value.empty() ? std::string("empty") : "\\(lq" + Roff(value) + "\\(rq");
    }
    out << ".\n";
  }
  group = Group{};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: config_manpage TEMPLATE VERSION\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "config_manpage: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostream& out = std::cout;
  out << ".\\\" Generated from qmdriver.cfg by config_manpage; edit the template instead.\n"
      << ".TH QMDRIVER.CFG 5 \"\" \"qmdriver " << argv[2] << "\" \"File Formats\"\n"
      << ".SH NAME\nqmdriver.cfg \\- settings of the qmdriver GSM modem driver\n"
      << ".SH DESCRIPTION\n";
  Group group;
  bool header = true;  // the file's opening comment block
  for (std::string line; std::getline(in, line);) {
    if (header) {
      if (line.rfind("#", 0) == 0) {
        const std::string text = line.size() > 2 ? line.substr(2) : std::string();
        if (text.rfind("Quillmoor", 0) != 0 && !text.empty()) out << Roff(text) << "\n";
        continue;
      }
      header = false;
    }
    if (line.rfind("# ---", 0) == 0) {
      Flush(group, out);
      std::string title = line.substr(5);
      title = title.substr(0, title.find(" -"));
      while (!title.empty() && title.front() == ' ') title.erase(0, 1);
      out << ".SH \"" << Roff(title) << "\"\n";
    } else if (line.rfind("#", 0) == 0) {
      if (!group.keys.empty()) Flush(group, out);
      group.comment.push_back(line.size() > 2 ? line.substr(2) : std::string());
    } else if (line.empty()) {
      Flush(group, out);
    } else if (const auto eq = line.find('='); eq != std::string::npos) {
      group.keys.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
  }
  Flush(group, out);
  out << ".SH FILES\n.TP\n.I share/qmdriver/qmdriver.cfg\nThe template this page was made from.\n"
      << ".TP\n.I ~/.config/quillmoor/registry/\nThe key store, where the settings live after the first start.\n"
      << ".SH SEE ALSO\n.BR qmdriver (1),\n.BR qmctl (1)\n";
  return 0;
}
