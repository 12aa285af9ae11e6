#!/usr/bin/env python3
"""Writes quillometry-cli's manual page and bash completion from the
program's own help, so neither can fall behind the commands.

    gen-clidocs.py CLI --man OUT.1 --completion OUT.bash --version V

The top-level help lists the commands (an indented "Commands:" section);
each command's help ("quillometry-cli help NAME") gives its usage line, its
options and its arguments.
"""
import argparse
import datetime
import os
import re
import subprocess
import sys
import tempfile

COMMAND_LINE = re.compile(r"^  ([a-z][a-z0-9-]*)(\s|$)")
OPTION_LINE = re.compile(r"^\s+((?:-[A-Za-z0-9?], )?--[a-z][a-z0-9-]*)(?:[ =]<?([A-Z][A-Z0-9_:.]*)>?)?(\s|$)")
ARGUMENT_LINE = re.compile(r"^\s+([A-Za-z][A-Za-z0-9_\[\]\.]*)\s")


def run_cli(cli, args, env):
    proc = subprocess.run([cli] + args, capture_output=True, text=True, env=env, timeout=60)
    # "help" answers 0; a bare call may answer 2 with the usage on stdout.
    return proc.stdout


def commands_of(top_help):
    names, inside = [], False
    for line in top_help.splitlines():
        if line.strip().rstrip(":").lower() == "commands":
            inside = True
            continue
        if not inside:
            continue
        if line and not line.startswith(" "):
            break
        m = COMMAND_LINE.match(line)
        if m and m.group(1) not in names:
            names.append(m.group(1))
    return names


def sections_of(text):
    """Splits a help text into its sections, keyed by heading ("Options")."""
    sections, current = {"": []}, ""
    for line in text.splitlines():
        if line and not line.startswith(" ") and line.rstrip().endswith(":") and len(line) < 40:
            current = line.rstrip()[:-1].strip().lower()
            sections.setdefault(current, [])
            continue
        sections[current].append(line)
    return sections


def options_of(text):
    """The command's options in help order, each with the name of its value
    ("--to NAME" gives ("--to", "NAME"); a flag has "")."""
    opts = []
    for line in sections_of(text).get("options", []):
        m = OPTION_LINE.match(line)
        if not m:
            continue
        for name in m.group(1).split(", "):
            if name not in [o for o, _ in opts]:
                opts.append((name, m.group(2) or ""))
    return opts


def arguments_of(text):
    args = []
    for line in sections_of(text).get("arguments", []):
        m = ARGUMENT_LINE.match(line)
        if m:
            args.append(m.group(1).strip("[].").upper())
    return args


def write_lines(path, lines):
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def roff_escape(line):
    line = line.replace("\\", "\\e").replace("-", "\\-")
    if line.startswith((".", "'")):
        line = "\\&" + line
    return line


def write_man(path, version, top_help, helps):
    today = os.environ.get("SOURCE_DATE_EPOCH")
    date = (datetime.datetime.utcfromtimestamp(int(today)) if today else datetime.datetime.utcnow()).strftime("%Y-%m-%d")
    out = []
    out.append('.TH QUILLOMETRY-CLI 1 "%s" "quillometry-cli %s" "User Commands"' % (date, version))
    out.append(".SH NAME")
    out.append("quillometry\\-cli \\- move WhatsApp chat histories between iPhones, iTunes backups and local databases")
    out.append(".SH SYNOPSIS")
    out.append(".B quillometry\\-cli")
    out.append(".I COMMAND")
    out.append("[\\fIOPTIONS\\fR] [\\fIARGUMENTS\\fR]")
    out.append(".SH DESCRIPTION")
    out.append(".nf")
    out.extend(roff_escape(l) for l in top_help.rstrip().splitlines())
    out.append(".fi")
    out.append(".SH COMMANDS")
    for name, text in helps:
        out.append(".SS %s" % roff_escape(name))
        out.append(".nf")
        out.extend(roff_escape(l) for l in text.rstrip().splitlines())
        out.append(".fi")
    out.append(".SH FILES")
    out.append("The data folder is \\fI$XDG_DATA_HOME/Quillometry/\\fR (\\fI~/.local/share/Quillometry/\\fR when")
    out.append("XDG_DATA_HOME is unset); it holds the logs, the local databases and the device caches.")
    out.append(".SH SEE ALSO")
    out.append(".BR quillometry (1)")
    write_lines(path, out)


COMPLETION_HEAD = r"""# bash completion for quillometry-cli; generated from its help.
_quillometry_cli_values() {
    # First column of a listing command (names may hold spaces).
    quillometry-cli "$1" 2>/dev/null | cut -f1
}

_quillometry_cli_complete_kind() {
    # Adds the values an argument of kind $1 takes to COMPREPLY.
    local IFS=$'\n' words=""
    case "$1" in
        SOURCE)
            words="$(_quillometry_cli_values localdbs)"
            words+=$'\n'"$(_quillometry_cli_values copies | sed 's/^/virtual:/')"
            COMPREPLY+=($(compgen -W "$words" -- "$cur"))
            compopt -o filenames 2>/dev/null
            COMPREPLY+=($(compgen -d -- "$cur")) ;;
        NAME) COMPREPLY+=($(compgen -W "$(_quillometry_cli_values localdbs)" -- "$cur")) ;;
        UDID) COMPREPLY+=($(compgen -W "$(_quillometry_cli_values devices)" -- "$cur")) ;;
        FOLDER|BACKUP|DIR)
            compopt -o filenames 2>/dev/null
            COMPREPLY+=($(compgen -d -- "$cur")) ;;
        PATH|FILE|OUT)
            compopt -o filenames 2>/dev/null
            COMPREPLY+=($(compgen -f -- "$cur")) ;;
    esac
}

_quillometry_cli() {
    local cur prev cmd i kind kinds k
    COMPREPLY=()
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    cmd=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        case "${COMP_WORDS[i]}" in -*) ;; *) cmd="${COMP_WORDS[i]}"; break ;; esac
    done
"""


def write_completion(path, commands, options, arguments):
    out = [COMPLETION_HEAD.rstrip("\n")]
    out.append('    if [[ -z "$cmd" ]]; then')
    out.append('        COMPREPLY=($(compgen -W "%s --help --version" -- "$cur"))' % " ".join(commands))
    out.append("        return 0")
    out.append("    fi")
    out.append('    if [[ "$cmd" == help ]]; then')
    out.append('        COMPREPLY=($(compgen -W "%s" -- "$cur"))' % " ".join(commands))
    out.append("        return 0")
    out.append("    fi")
    out.append('    if [[ "$cur" == -* ]]; then')
    out.append('        case "$cmd" in')
    for name in commands:
        out.append('            %s) COMPREPLY=($(compgen -W "%s" -- "$cur")) ;;'
                   % (name, " ".join(o for o, _ in options.get(name, []))))
    out.append("        esac")
    out.append("        return 0")
    out.append("    fi")
    # The value of an option, by the kind its help names ("--to NAME").
    out.append('    kind=""')
    out.append('    case "$cmd $prev" in')
    for name in commands:
        for opt, value in options.get(name, []):
            if value:
                out.append('        "%s %s") kind="%s" ;;' % (name, opt, value))
    out.append("    esac")
    out.append('    if [[ -n "$kind" ]]; then')
    out.append('        _quillometry_cli_complete_kind "$kind"')
    out.append("        return 0")
    out.append("    fi")
    # Positional arguments: every kind the command takes.
    out.append('    kinds=""')
    out.append('    case "$cmd" in')
    for name in commands:
        out.append('        %s) kinds="%s" ;;' % (name, " ".join(arguments.get(name, []))))
    out.append("    esac")
    out.append('    for k in $kinds; do _quillometry_cli_complete_kind "$k"; done')
    out.append("    return 0")
    out.append("}")
    out.append("complete -F _quillometry_cli quillometry-cli")
    write_lines(path, out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("--man")
    ap.add_argument("--completion")
    ap.add_argument("--version", default="")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as data:
        # The program must not touch the builder's own data folder.
        env = dict(os.environ, XDG_DATA_HOME=data, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
        top = run_cli(a.cli, ["help"], env) or run_cli(a.cli, ["--help"], env)
        commands = commands_of(top)
        if not commands:
            sys.exit("gen-clidocs: no commands found in the help of " + a.cli)
        helps, options, arguments = [], {}, {}
        for name in commands:
            text = run_cli(a.cli, ["help", name], env) or run_cli(a.cli, [name, "--help"], env)
            if not text.strip():
                sys.exit("gen-clidocs: no help for " + name)
            helps.append((name, text))
            options[name] = options_of(text)
            arguments[name] = arguments_of(text)
    if a.man:
        write_man(a.man, a.version, top, helps)
    if a.completion:
        write_completion(a.completion, commands, options, arguments)


if __name__ == "__main__":
    main()
