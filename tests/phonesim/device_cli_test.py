#!/usr/bin/env python3
"""End-to-end cases of quillometry-cli's device commands against the simulated iPhone.

Usage: device_cli_test.py PHONESIM CLI CASE   (MAKE_CHATDB names the chat-database builder)
Each case seeds fresh phones from a make-chatdb database in its own temporary
folder and runs itself again under `phonesim run`, which serves them on the
loopback and stops the simulator afterwards.
"""
import os
import plistlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import phonesim_test as ps  # noqa: E402

from phonesim_test import UDID_A, UDID_B, WA_GROUP, WA_GROUP_DOMAIN, NOTES_DOMAIN, Failure, check, read_file  # noqa: E402

TIMEOUT = 60


class Cli(ps.Ctx):
    def __init__(self, phonesim, cli, work):
        super().__init__(phonesim, work)
        self.cli = cli
        self.folder = os.path.join(work, "device-backups")
        self.records = os.path.join(work, "records")

    def q(self, *args, stdin=None, timeout=TIMEOUT):
        return self.run([self.cli] + list(args), stdin=stdin, timeout=timeout)

    def record(self, udid):
        return os.path.join(self.records, udid + ".plist")

    def backup_ok(self, udid):
        rc, out = self.q("device-backup", udid, "--to", self.folder)
        check(rc == 0, "device-backup of %s failed:\n%s" % (udid, out))
        return out

    def stored_in(self, udid, domain, rel):
        import hashlib
        fid = hashlib.sha1(("%s-%s" % (domain, rel)).encode()).hexdigest()
        return os.path.join(self.folder, udid, fid[:2], fid)

    def restore(self, udid, *extra):
        return self.q("device-restore", udid, "--from", self.folder, *extra)


def case_pairing(c):
    rc, out = c.q("pair", UDID_A)
    check(rc == 1 and "Error detail:" in out, "pending phone paired: %s" % out)
    check(not os.path.exists(c.record(UDID_A)), "a refused pairing left a record")
    c.ctl("trust", UDID_A)
    rc, out = c.q("pair", UDID_A)
    check(rc == 0 and "Paired with " + UDID_A in out, "trusted phone did not pair: %s" % out)
    check(os.path.exists(c.record(UDID_A)), "no pairing record after pairing")
    with open(c.record(UDID_A), "rb") as f:
        first_host = plistlib.load(f)["HostID"]
    # Lockdown values through the paired session.
    table = [(["--key", "DeviceName"], "Alice's iPhone"), (["--key", "ProductVersion"], "14.8"),
             (["--key", "MobileSubscriberCountryCode"], "310"),
             (["--domain", "com.apple.mobile.backup", "--key", "WillEncrypt"], "false")]
    for args, expected in table:
        rc, out = c.q("device-info", UDID_A, *args)
        check(rc == 0 and out.strip() == expected, "device-info %s: %r" % (args, out))
    rc, out = c.q("device-info", UDID_A)
    check(rc == 0 and "DeviceName: Alice's iPhone" in out and "UniqueDeviceID: " + UDID_A in out, "all values: %s" % out)
    # The phone forgets this computer and the user denies: refused, no record left.
    c.ctl("untrust", UDID_A)
    c.ctl("deny", UDID_A)
    rc, out = c.q("pair", UDID_A)
    check(rc == 1, "denied phone paired: %s" % out)
    check(not os.path.exists(c.record(UDID_A)), "a denied pairing left a record")
    # Pending with --wait: the user taps Trust while the command retries.
    time.sleep(1.1)  # libimobiledevice seeds its host-id generator with the second
    c.ctl("pending", UDID_A)
    p = subprocess.Popen([c.cli, "pair", UDID_A, "--wait", "20"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         restore_signals=False)
    time.sleep(2.5)
    check(not os.path.exists(c.record(UDID_A)), "a pending pairing left a record")
    c.ctl("trust", UDID_A)
    out = p.communicate(timeout=TIMEOUT)[0].decode()
    check(p.returncode == 0 and "Paired with" in out, "pair --wait after Trust: %s" % out)
    with open(c.record(UDID_A), "rb") as f:
        check(plistlib.load(f)["HostID"] != first_host, "the phone that forgot us was not paired afresh")
    rc, out = c.q("device-info", UDID_A, "--key", "DeviceName")
    check(rc == 0 and out.strip() == "Alice's iPhone", "session after pairing afresh: %r" % out)


def case_two_phones(c):
    rc, out = c.q("devices")
    lines = sorted(out.strip().splitlines())
    check(rc == 0 and lines == sorted([UDID_A + "\tAlice's iPhone", UDID_B + "\tBob's iPhone"]), "devices: %r" % out)
    for udid, name in [(UDID_A, "Alice's iPhone"), (UDID_B, "Bob's iPhone")]:
        rc, out = c.q("device-info", udid, "--key", "DeviceName")
        check(rc == 0 and out.strip() == name, "%s: %r" % (udid, out))
    # Watching: a detach and an attach of B are reported, A stays.
    p = subprocess.Popen([c.cli, "devices", "--watch", "4"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         restore_signals=False)
    time.sleep(1.5)
    c.ctl("detach", UDID_B)
    time.sleep(0.5)
    c.ctl("attach", UDID_B)
    out = p.communicate(timeout=TIMEOUT)[0].decode()
    check(p.returncode == 0, "devices --watch: %s" % out)
    check("detached " + UDID_B in out and out.count("attached " + UDID_B) >= 1 and "detached " + UDID_A not in out,
          "watch output: %r" % out)


def case_backup_restore(c):
    c.backup_ok(UDID_A)
    first = c.stats(UDID_A)
    folder = os.path.join(c.folder, UDID_A)
    check(os.stat(folder).st_mode & 0o777 == 0o700, "backup folder not private: %o" % os.stat(folder).st_mode)
    phone_db = read_file(os.path.join(c.container(UDID_A, group=WA_GROUP), "ChatStorage.sqlite"))
    out_db = os.path.join(c.work, "got", "ChatStorage.sqlite")
    rc, out = c.q("itunes-get", folder, WA_GROUP_DOMAIN, "ChatStorage.sqlite", "--out", out_db)
    check(rc == 0 and read_file(out_db) == phone_db, "ChatStorage.sqlite from the backup differs:\n%s" % out)
    with open(os.path.join(folder, "Status.plist"), "rb") as f:
        check(plistlib.load(f)["SnapshotState"] == "finished", "Status.plist not finished")
    # The second run sends only what changed.
    c.backup_ok(UDID_A)
    second = c.stats(UDID_A)
    check(second["incremental"] == 1 and second["bytes"] * 10 < first["bytes"],
          "incremental: %r after %r" % (second, first))
    check(read_file(c.stored_in(UDID_A, WA_GROUP_DOMAIN, "ChatStorage.sqlite")) == phone_db, "incremental lost a file")
    # A file changed in the backup lands on the phone.
    notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
    with open(c.stored_in(UDID_A, NOTES_DOMAIN, "Documents/notes.txt"), "wb") as f:
        f.write(b"changed in the backup\n")
    rc, out = c.restore(UDID_A, "--no-reboot", "--no-system-files")
    check(rc == 0, "device-restore failed:\n%s" % out)
    check(read_file(notes) == b"changed in the backup\n", "restored file not on the phone: %r" % read_file(notes)[:40])


def run_detached(c, args, arm):
    """Starts the command, waits until the armed phone stalls, detaches it; the command must end soon with an error."""
    arm()
    stalls = int(c.ctl("stalls", UDID_A).split()[1])
    p = subprocess.Popen([c.cli] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, restore_signals=False,
                         start_new_session=True)
    # Pulled out once the phone stopped in the middle of a file.
    end = time.time() + 30
    while int(c.ctl("stalls", UDID_A).split()[1]) == stalls and p.poll() is None and time.time() < end:
        time.sleep(0.1)
    time.sleep(0.3)
    check(p.poll() is None, "%s ended before the phone was pulled out" % args[0])
    c.ctl("detach", UDID_A)
    start = time.time()
    try:
        out = p.communicate(timeout=10)[0].decode()
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        raise Failure("%s did not end within 10 s of the detach" % args[0])
    check(time.time() - start < 10, "took too long")
    check(p.returncode == 1 and "error" in out.lower(), "%s after detach: rc %d\n%s" % (args[0], p.returncode, out))
    # No process of the command is left behind.
    try:
        os.killpg(p.pid, 0)
        left = True
    except ProcessLookupError:
        left = False
    check(not left, "a process of %s is still running" % args[0])
    c.ctl("attach", UDID_A)
    c.wait_listed(UDID_A, True)
    return out


def case_detach(c):
    run_detached(c, ["device-backup", UDID_A, "--to", c.folder], lambda: c.ctl("fail", UDID_A, "stall-upload"))
    c.backup_ok(UDID_A)
    run_detached(c, ["device-restore", UDID_A, "--from", c.folder, "--no-reboot"],
                 lambda: c.ctl("fail", UDID_A, "stall-download"))


def case_faults(c):
    c.backup_ok(UDID_A)
    backup = ["device-backup", UDID_A, "--to", c.folder]
    restore = ["device-restore", UDID_A, "--from", c.folder, "--no-reboot", "--no-system-files"]
    missing = c.stored_in(UDID_A, WA_GROUP_DOMAIN, "ChatStorage.sqlite")
    saved = {}

    def remove_stored():
        saved["db"] = read_file(missing)
        os.remove(missing)

    def with_changed_file(*fault):
        # An incremental backup streams only changed files: change one, so
        # that a fault inside a streamed file has a file to happen in.
        def arm():
            notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
            with open(notes, "wb") as f:
                f.write(b"changed on the phone %f" % time.time())
            os.utime(notes, (time.time() + 100, time.time() + 100))
            c.ctl("fail", UDID_A, *fault)
        return arm

    def put_back():
        with open(missing, "wb") as f:
            f.write(saved["db"])

    # (what, arm, command, expected exit code, texts, disarm)
    table = [
        ("backup-error lost", lambda: c.ctl("fail", UDID_A, "backup-error", "-1", "Connection to device lost"),
         backup, 1, ["error code:-1.", "Connection to device lost"], None),
        ("backup-error setup", lambda: c.ctl("fail", UDID_A, "backup-error", "9",
                                             "The operation cannot run until Setup is finished"),
         backup, 1, ["error code:9.", "until Setup is finished"], None),
        ("backup-error 105", lambda: c.ctl("fail", UDID_A, "backup-error", "105", "Not enough space (MBErrorDomain/105)"),
         backup, 1, ["error code:105.", "(MBErrorDomain/105)"], None),
        ("purge-disk-space", lambda: c.ctl("fail", UDID_A, "purge-disk-space"), backup, 1,
         ["error code:-36.", "Insufficient free disk space on drive to back up."], None),
        ("disconnect-upload", with_changed_file("disconnect-upload"), backup, 1,
         ["Error attaching to device."], None),
        ("disconnect-download", lambda: c.ctl("fail", UDID_A, "disconnect-download"), restore, 1,
         ["Please restart your iPhone"], None),
        ("remote-error", with_changed_file("remote-error", "Simulated disk failure"), backup, 1,
         ["remote error. Simulated disk failure"], None),
        ("find my iphone", lambda: c.ctl("set", UDID_A, "FindMyiPhone", "true"), restore, 1,
         ["error code:-37.", "this tutorial", "to disable \"Find my iPhone\" first"],
         lambda: c.ctl("set", UDID_A, "FindMyiPhone", "false")),
        ("invalid password answer", lambda: c.ctl("fail", UDID_A, "restore-error", "207",
                                                  "Invalid password when restoring encrypted backup (MBErrorDomain/207)"),
         restore, 4, ["(MBErrorDomain/207)"], None),
        ("file missing on the computer", remove_stored, restore, 1,
         ["(MBErrorDomain/205)", " %s not exists." % os.path.basename(missing)], put_back),
        ("restore ok", lambda: None, restore, 0, ["Restore to"], None),
        ("restore without reboot", lambda: None, restore, 1, ["error code:102.", "Please restart your iPhone first."],
         None),
    ]
    failures = []
    for what, arm, args, code, texts, disarm in table:
        arm()
        rc, out = c.q(*args)
        if disarm:
            disarm()
        if rc != code or any(t not in out for t in texts) or "<br/>" in out:
            failures.append("%s: rc %d (want %d), want %r in:\n%s" % (what, rc, code, texts, out))
    check(not failures, "\n".join(failures))


def case_encrypted_password(c):
    c.backup_ok(UDID_A)
    with open(os.path.join(c.folder, UDID_A, "Manifest.plist"), "rb") as f:
        check(plistlib.load(f)["IsEncrypted"] is True, "the phone did not encrypt its backup")
    restore = ["device-restore", UDID_A, "--from", c.folder, "--no-reboot", "--no-system-files"]
    rc, out = c.q(*restore)
    check(rc == 4, "no password: rc %d\n%s" % (rc, out))
    rc, out = c.q(*(restore + ["--password", "wrong"]))
    check(rc == 4 and "Invalid password." in out, "wrong password: rc %d\n%s" % (rc, out))
    os.environ["Q_TEST_PW"] = "s3cret pw"
    rc, out = c.q(*(restore + ["--password-env", "Q_TEST_PW"]))
    check(rc == 0, "right password: rc %d\n%s" % (rc, out))


def case_no_daemon(c):
    env = dict(os.environ, USBMUXD_SOCKET_ADDRESS="127.0.0.1:1")
    for args in (["devices"], ["device-info", UDID_A], ["pair", UDID_A], ["device-backup", UDID_A, "--to", c.folder]):
        p = subprocess.run([c.cli] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=TIMEOUT,
                           restore_signals=False)
        out = p.stdout.decode()
        check(p.returncode == 1 and "no USB daemon" in out, "%s without a daemon: %s" % (args, out))
    check(not os.path.exists(c.folder), "a command without a daemon created the backup folder")
    rc, out = c.q("device-backup", "../escape", "--to", c.folder)
    check(rc == 1 and "is no UDID" in out, "hostile UDID: %s" % out)


# (case, phones as (udid, seed options))
CASES = {
    "pairing": (case_pairing, [(UDID_A, ["--pairing", "pending", "--country", "310"])]),
    "two_phones": (case_two_phones, [(UDID_A, []), (UDID_B, ["--name", "Bob's iPhone"])]),
    "backup_restore": (case_backup_restore, [(UDID_A, [])]),
    "detach": (case_detach, [(UDID_A, [])]),
    "faults": (case_faults, [(UDID_A, [])]),
    "encrypted_password": (case_encrypted_password, [(UDID_A, ["--password", "s3cret pw", "--rounds", "1000"])]),
    "no_daemon": (case_no_daemon, [(UDID_A, [])]),
}


def outer(phonesim, cli, name):
    body, phones = CASES[name]
    work = tempfile.mkdtemp(prefix="device-cli-test-")
    try:
        chat = os.path.join(work, "chat")
        ps.make_fixture_chat_folder(chat)
        return ps.serve_seeded(phonesim, work, chat, phones, [],
                               [sys.executable, os.path.abspath(__file__), "--inner", phonesim, cli, name, work])
    except Failure as e:
        print("FAIL %s: %s" % (name, e))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    if len(sys.argv) == 6 and sys.argv[1] == "--inner":
        phonesim, cli, name, work = sys.argv[2:6]
        return ps.run_case(name, CASES[name][0], Cli(phonesim, cli, work))
    if len(sys.argv) != 4 or sys.argv[3] not in CASES:
        print("usage: device_cli_test.py PHONESIM CLI CASE (one of %s)" % ", ".join(sorted(CASES)))
        return 2
    return outer(sys.argv[1], sys.argv[2], sys.argv[3])


if __name__ == "__main__":
    sys.exit(main())
