// Writes the manual page qinglan(1) or the bash completion of qinglan, at
// build time, from the same commands and settings table as `qinglan --help`:
// what the package documents cannot drift from what the program takes.
// Nothing of the machine that builds it goes in.
//
//   qinglan_doc man FILE | qinglan_doc bash FILE

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "app/settings_table.h"

namespace qinglan {
namespace {

// The usage's lines of the commands, before its options, without "usage: ".
std::vector<std::string> command_lines() {
    const std::string_view usage = kUsage;
    const std::string_view commands = usage.substr(0, usage.find("options:\n"));
    std::vector<std::string> lines;
    std::istringstream in{std::string(commands)};
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("usage: ", 0) == 0) {
            line.replace(0, 7, "       ");
        }
        if (line.find_first_not_of(' ') != std::string::npos) {
            lines.push_back(line.substr(7));
        }
    }
    return lines;
}

// The words after "qinglan" on a line of the commands: the command, and a
// queue's action.
std::vector<std::string> command_words(const std::string& line) {
    std::vector<std::string> words;
    // A blank right after the name: the windows, with their description.
    if (line.rfind("qinglan ", 0) != 0 || line.size() < 9 || line[8] == ' ') {
        return words;
    }
    std::istringstream in(line.substr(8));
    for (std::string word; in >> word && std::islower(static_cast<unsigned char>(word[0])) != 0;) {
        words.push_back(word);
    }
    return words;
}

// A text for troff: backslashes and minus signs escaped, no line taken for
// a request.
std::string troff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) {
        out.insert(0, "\\&");
    }
    return out;
}

// Chinese text has no blanks to break a line at: troff may break it after
// each punctuation mark.
std::string breakable(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        bool marked = false;
        for (const std::string_view mark : {"，", "。", "：", "、", "）"}) {
            if (text.substr(at, mark.size()) == mark) {
                out += std::string(mark) + "\\:";
                at += mark.size();
                marked = true;
                break;
            }
        }
        if (!marked) {
            out += text[at++];
        }
    }
    return out;
}

// A setting's help as one paragraph, its default filled in.
std::string help_paragraph(const Setting& setting) {
    std::string help = setting_help(setting);
    for (char& c : help) {
        c = c == '\n' ? ' ' : c;
    }
    return help;
}

void write_man_options(std::ostream& out) {
    out << ".SH OPTIONS\n";
    for (const Setting& setting : settings_table()) {
        if (setting.option.empty() || setting.help.empty()) {
            continue;
        }
        out << ".TP\n\\fB" << troff(setting.option) << "\\fR";
        if (!setting.value_name.empty()) {
            out << " \\fI" << troff(setting.value_name) << "\\fR";
        }
        out << "\n" << troff(help_paragraph(setting)) << "\n";
    }
    out << ".TP\n.B \\-\\-version\nprint the version and end\n"
        << ".TP\n.BR \\-\\-help \", \" \\-h\n"
        << "print the usage, the data folder and the settings file in use, and end\n";
}

void write_man(std::ostream& out) {
    out << ".TH QINGLAN 1 \"\" \"qinglan " QINGLAN_VERSION "\" \"User Commands\"\n"
        << ".SH NAME\nqinglan \\- collect company contact data from a B2B marketplace"
        << " (青岚用户采集器)\n.SH SYNOPSIS\n.nf\n";
    for (const std::string& line : command_lines()) {
        out << troff(line) << "\n";
    }
    out << ".fi\n.SH DESCRIPTION\n"
        << "Without a command, qinglan opens its windows: type a keyword and the program "
           "fetches the marketplace's company search page for it, each listed member's card "
           "and contact page, and stores a twelve-field contact record per member in the "
           "keyword's table of a local SQLite database, date/lingshishuj.db in the data "
           "folder. The commands do the same without windows, export stored keywords to "
           ".xlsx or .csv, and share the work of a team through a PostgreSQL server.\n"
        << ".PP\n.ad l\n"
        << breakable(
               "不带命令时打开窗口：输入关键字，程序采集市场上该关键字的公司会员的联系资料"
               "（公司名称、联系人、电话、手机、地址等十二项），每个关键字保存为本地数据库中的"
               "一张表，可导出为 Excel 工作簿或 CSV 文件。各命令不打开窗口完成同样的工作。"
               "窗口中按 F1 可看中文帮助。")
        << "\n.ad\n";
    write_man_options(out);
    out << ".SH FILES\n"
        << ".TP\n.I ~/.local/share/qinglan/date/lingshishuj.db\n"
        << "the database of an installed program ($XDG_DATA_HOME/qinglan when set); run "
           "from its build tree, the program keeps it beside itself; \\-\\-data\\-dir wins "
           "over both\n"
        << ".TP\n.I ~/.config/qinglan/qinglan.ini\n"
        << "the settings of an installed program ($XDG_CONFIG_HOME/qinglan when set); "
           "otherwise, and with \\-\\-data\\-dir, in the data folder. "
        << troff(usage_file_paragraph()) << "Options win over the file.\n"
        << ".TP\n.I /usr/share/qinglan/sites/\n"
        << "the shipped site profiles; \\-\\-site finds them by name\n"
        << ".TP\n.I /usr/share/qinglan/help.html\nthe user guide the windows show (Chinese)\n"
        << ".SH EXIT STATUS\n0 when everything was done, 1 when something failed, "
           "2 for bad usage or a bad setting.\n"
        << ".SH SEE ALSO\n\\fBqinglan \\-\\-help\\fR\n";
}

void write_bash(std::ostream& out) {
    std::set<std::string> commands;
    std::set<std::string> actions;
    for (const std::string& line : command_lines()) {
        const std::vector<std::string> words = command_words(line);
        if (!words.empty()) {
            commands.insert(words[0]);
        }
        if (words.size() > 1) {
            actions.insert(words[1]);
        }
    }
    std::string options, paths;
    for (const Setting& setting : settings_table()) {
        if (!setting.option.empty()) {
            options += " " + std::string(setting.option);
        }
        const std::string_view value = setting.value_name;
        if (value == "FILE" || value == "DIR" || value == "DIR|URL") {
            paths += "|" + std::string(setting.option);
        }
    }
    auto joined = [](const std::set<std::string>& words) {
        std::string text;
        for (const std::string& word : words) {
            if (!text.empty()) {
                text += ' ';
            }
            text += word;
        }
        return text;
    };
    out << "# bash completion for qinglan, made from its usage -*- shell-script -*-\n"
        << "_qinglan() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        << "    case $prev in\n"
        << "        " << paths.substr(1) << ")\n"
        << "            COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames; return ;;\n"
        << "    esac\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W '" << options.substr(1) << "' -- \"$cur\"))\n"
        << "    elif ((COMP_CWORD == 1)); then\n"
        << "        COMPREPLY=($(compgen -W '" << joined(commands) << "' -- \"$cur\"))\n"
        << "    elif ((COMP_CWORD == 2)) && [[ ${COMP_WORDS[1]} == queue ]]; then\n"
        << "        COMPREPLY=($(compgen -W '" << joined(actions) << "' -- \"$cur\"))\n"
        << "    elif [[ ${COMP_WORDS[1]} == export || ${COMP_WORDS[1]} == site-check ]]; then\n"
        << "        COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames\n"
        << "    fi\n"
        << "}\n"
        << "complete -F _qinglan qinglan\n";
}

}  // namespace
}  // namespace qinglan

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "man" && mode != "bash") {
        std::fprintf(stderr, "usage: qinglan_doc man|bash FILE\n");
        return 2;
    }
    std::ofstream out(argv[2], std::ios::binary);
    if (mode == "man") {
        qinglan::write_man(out);
    } else {
        qinglan::write_bash(out);
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "qinglan_doc: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
