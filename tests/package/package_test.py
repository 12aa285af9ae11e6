#!/usr/bin/env python3
"""Checks of the installable program, one case per call:

    package_test.py CASE

The environment names the source and build folders, the built
quillometry-cli, the version and where the package goes (see CMakeLists.txt).
Exit 0 passes, 77 skips (a tool is missing; the reason is printed), anything
else fails with the reason on stderr.
"""
import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

SRC = os.environ["Q_SOURCE_DIR"]
BUILD = os.environ["Q_BUILD_DIR"]
CLI = os.environ["Q_CLI"]
VERSION = os.environ["Q_VERSION"]
OUT = os.environ["Q_PACKAGE_DIR"]

# Every file the package installs; folders are not listed.
EXPECTED_FILES = sorted([
    "usr/bin/quillometry",
    "usr/bin/quillometry-cli",
    "usr/share/applications/quillometry.desktop",
    "usr/share/bash-completion/completions/quillometry-cli",
    "usr/share/doc/quillometry/changelog.gz",
    "usr/share/doc/quillometry/copyright",
    "usr/share/icons/hicolor/256x256/apps/quillometry.png",
    "usr/share/icons/hicolor/scalable/apps/quillometry.svg",
    "usr/share/man/man1/quillometry-cli.1.gz",
    "usr/share/man/man1/quillometry.1.gz",
    "usr/share/metainfo/io.quillometry.ChatTransfer.metainfo.xml",
    "usr/share/quillometry/wabb/contact.png",
    "usr/share/quillometry/wabb/empty_photo.jpg",
    "usr/share/quillometry/wabb/style.css",
    "usr/share/quillometry/wabb/voice.png",
] + [
    # The printed bubbles' frames: nine tiles per kind.
    "usr/share/quillometry/wabb/%s_%02d.png" % (kind, n) for kind in ("r", "bb1", "bb2") for n in range(1, 10)
])

# Runtime pieces that are not linked libraries but that features need.
EXPECTED_DEPENDS = ["fonts-noto-color-emoji", "xdg-utils", "usbmuxd"]


class Skip(Exception):
    pass


def need(tool):
    if shutil.which(tool) is None:
        raise Skip("%s is not installed (scripts/setup installs it)" % tool)


def run(args, **kw):
    proc = subprocess.run(args, capture_output=True, text=True, **kw)
    return proc.returncode, proc.stdout, proc.stderr


def the_deb():
    debs = glob.glob(os.path.join(OUT, "quillometry_%s_*.deb" % VERSION))
    if len(debs) != 1:
        raise AssertionError("expected one package in %s, found %s" % (OUT, debs))
    return debs[0]


def cli_env(data):
    return dict(os.environ, XDG_DATA_HOME=data, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")


def help_commands(cli, env):
    code, out, err = run([cli, "help"], env=env)
    assert code == 0, "help exited %d: %s" % (code, err)
    names, inside = [], False
    for line in out.splitlines():
        if line.strip().rstrip(":").lower() == "commands":
            inside = True
            continue
        if inside and line and not line.startswith(" "):
            break
        m = re.match(r"^  ([a-z][a-z0-9-]*)(\s|$)", line) if inside else None
        if m and m.group(1) not in names:
            names.append(m.group(1))
    assert names, "help lists no commands:\n" + out
    return names


def case_build():
    for tool in ("cpack", "dpkg-shlibdeps", "dpkg-deb"):
        need(tool)
    env = dict(os.environ,
               RELEASE_BUILD_DIR=os.path.join(BUILD, "package-release"),
               PACKAGE_OUT_DIR=OUT)
    for old in glob.glob(os.path.join(OUT, "quillometry_*.deb")):
        os.remove(old)
    code, out, err = run([os.path.join(SRC, "scripts", "package")], env=env)
    assert code == 0, "scripts/package failed (%d):\n%s\n%s" % (code, out[-4000:], err[-4000:])
    deb = out.strip().splitlines()[-1]
    assert os.path.isfile(deb), "scripts/package printed no package path: " + deb
    assert os.path.basename(deb).startswith("quillometry_%s_" % VERSION), deb
    print("built", deb, os.path.getsize(deb), "bytes")


def case_fields():
    need("dpkg-deb")
    code, out, err = run(["dpkg-deb", "--info", the_deb()])
    assert code == 0, err
    fields = {}
    for line in out.splitlines():
        m = re.match(r"^ ([A-Za-z-]+): (.*)$", line)
        if m:
            fields[m.group(1)] = m.group(2)
    checks = [
        ("Package", lambda v: v == "quillometry"),
        ("Version", lambda v: v == VERSION),
        ("Section", lambda v: v == "utils"),
        ("Maintainer", lambda v: "@" in v),
        ("Architecture", lambda v: v != ""),
        ("Description", lambda v: "WhatsApp" in v),
    ]
    for name, ok in checks:
        assert name in fields and ok(fields[name]), "field %s: %r" % (name, fields.get(name))
    depends = [d.strip().split(" ")[0] for d in fields.get("Depends", "").split(",")]
    for d in EXPECTED_DEPENDS:
        assert d in depends, "Depends lacks %s: %s" % (d, fields.get("Depends"))
    assert any(d.startswith("libqt6") for d in depends), "Depends names no Qt library: %s" % depends
    dev = [d for d in depends if d.endswith("-dev")]
    assert not dev, "Depends names development packages: %s" % dev
    print("Depends:", fields["Depends"])


def case_contents():
    need("dpkg-deb")
    code, out, err = run(["dpkg-deb", "--contents", the_deb()])
    assert code == 0, err
    files, outside = [], []
    for line in out.splitlines():
        parts = line.split(None, 5)
        path = parts[5].split(" -> ")[0]
        path = path[2:] if path.startswith("./") else path
        if not path.startswith("usr/") and path not in ("", "usr/"):
            outside.append(path)
        if not line.startswith("d"):
            files.append(path)
    assert not outside, "installed outside /usr: %s" % outside
    files.sort()
    missing = sorted(set(EXPECTED_FILES) - set(files))
    extra = sorted(set(files) - set(EXPECTED_FILES))
    assert not missing and not extra, "missing %s, unexpected %s" % (missing, extra)


def case_lintian():
    need("lintian")
    code, out, err = run(["lintian", "--tag-display-limit", "0", the_deb()])
    errors = [l for l in out.splitlines() if l.startswith("E:")]
    print(out)
    assert not errors, "lintian errors:\n" + "\n".join(errors)


def case_installed_run():
    need("dpkg-deb")
    with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as data:
        code, _, err = run(["dpkg-deb", "-x", the_deb(), root])
        assert code == 0, err
        cli = os.path.join(root, "usr", "bin", "quillometry-cli")
        env = cli_env(data)
        code, out, err = run([cli, "--version"], env=env)
        assert code == 0 and ("quillometry-cli " + VERSION) in out, (code, out, err)
        # The installed program finds the bubble files in its own tree, never
        # in the build tree it was made in.
        m = re.search(r"^Bubble pages: (.*)$", out, re.M)
        assert m, "--version names no bubble-page folder:\n" + out
        wabb = m.group(1).strip()
        assert os.path.realpath(wabb) == os.path.realpath(os.path.join(root, "usr", "share", "quillometry", "wabb")), wabb
        assert os.path.isfile(os.path.join(wabb, "style.css"))
        # PDF pages are framed with the installed tiles, without a display.
        db = os.path.join(data, "db")
        make_chatdb = os.path.join(BUILD, "tools", "make-chatdb", "make-chatdb")
        if os.path.isfile(make_chatdb):
            code, _, err = run([make_chatdb, db, "--messages", "20"])
            assert code == 0, err
            pdf_env = dict(env)
            pdf_env.pop("DISPLAY", None)
            pdf_env.pop("QT_QPA_PLATFORM", None)
            out_dir = os.path.join(data, "pdf")
            code, out, err = run([cli, "--verbose", "export", db, "--format", "pdf", "--out", out_dir], env=pdf_env)
            assert code == 0, (code, out, err)
            assert "drawn without" not in err, err
            pdfs = [f for f in os.listdir(out_dir) if f.endswith(".pdf")]
            assert pdfs and all(open(os.path.join(out_dir, f), "rb").read(5) == b"%PDF-" for f in pdfs), pdfs
        names = help_commands(cli, env)
        # The translation is embedded: texts read as in the build tree.
        code, out, err = run([cli, "help", names[0]], env=env)
        assert code == 0 and "IDS_" not in out, (code, out, err)


def case_desktop_entry():
    need("desktop-file-validate")
    path = os.path.join(SRC, "res", "quillometry.desktop")
    code, out, err = run(["desktop-file-validate", path])
    assert code == 0 and not (out + err).strip(), out + err
    # The menu finds it under the name and icon it installs.
    text = open(path, encoding="utf-8").read()
    assert re.search(r"^Exec=quillometry$", text, re.M) and re.search(r"^Icon=quillometry$", text, re.M)


def case_metainfo():
    need("appstreamcli")
    path = os.path.join(BUILD, "packaging", "io.quillometry.ChatTransfer.metainfo.xml")
    code, out, err = run(["appstreamcli", "validate", "--no-net", "--pedantic", path])
    print(out, err)
    assert code == 0, "appstreamcli validate failed:\n" + out + err
    assert VERSION in open(path, encoding="utf-8").read()


def man_commands(path):
    text = gzip.open(path, "rt").read() if path.endswith(".gz") else open(path).read()
    cmds = []
    section = None
    for line in text.splitlines():
        if line.startswith(".SH "):
            section = line[4:].strip()
        elif line.startswith(".SS ") and section == "COMMANDS":
            cmds.append(line[4:].strip().replace("\\-", "-"))
    return cmds


def case_manpage_commands():
    with tempfile.TemporaryDirectory() as data:
        names = help_commands(CLI, cli_env(data))
    man = man_commands(os.path.join(BUILD, "packaging", "quillometry-cli.1"))
    assert man == names, "manual page lists %s, help lists %s" % (man, names)
    need("man")
    code, out, err = run(["man", "-l", os.path.join(BUILD, "packaging", "quillometry-cli.1")],
                         env=dict(os.environ, MANPAGER="cat", MANWIDTH="100"))
    assert code == 0 and "COMMANDS" in out, err


def case_completion_commands():
    need("bash")
    script = os.path.join(BUILD, "packaging", "quillometry-cli.bash")
    with tempfile.TemporaryDirectory() as data:
        env = cli_env(data)
        names = help_commands(CLI, env)
        # Complete "quillometry-cli <TAB>" and "quillometry-cli help <TAB>".
        probe = (
            "source %s\n"
            "complete -p quillometry-cli\n"
            "COMP_WORDS=(quillometry-cli ''); COMP_CWORD=1; _quillometry_cli; printf 'top:%%s\\n' \"${COMPREPLY[@]}\"\n"
            "COMP_WORDS=(quillometry-cli help ''); COMP_CWORD=2; _quillometry_cli; printf 'help:%%s\\n' \"${COMPREPLY[@]}\"\n"
        ) % script
        code, out, err = run(["bash", "-c", probe], env=env)
    assert code == 0 and "_quillometry_cli" in out, (code, out, err)
    top = {l[4:] for l in out.splitlines() if l.startswith("top:")}
    helped = {l[5:] for l in out.splitlines() if l.startswith("help:")}
    missing = [n for n in names if n not in top or n not in helped]
    assert not missing, "completion misses %s" % missing


def main():
    name = sys.argv[1]
    try:
        globals()["case_" + name]()
    except Skip as s:
        print("SKIPPED:", s)
        return 77
    except AssertionError as e:
        print("FAILED:", e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
