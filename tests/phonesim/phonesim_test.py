#!/usr/bin/env python3
"""End-to-end cases for the simulated iPhone, driven with Debian's libimobiledevice tools.

Usage: phonesim_test.py PHONESIM CASE
The outer call seeds the case's phones in a fresh temporary folder and runs
itself again under `phonesim run`, which exports USBMUXD_SOCKET_ADDRESS and
PHONESIM_CONTROL to the inner call and stops the simulator afterwards.
"""
import hashlib
import os
import plistlib
import random
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

UDID_A = "00008030-001A2B3C4D5E6F70"
UDID_B = "00008101-000A11B22C33D440"
TOOL_TIMEOUT = 60


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def make_chat_folder(folder):
    """A tiny chat database folder: ChatStorage.sqlite, media and a profile picture."""
    os.makedirs(folder)
    db = sqlite3.connect(os.path.join(folder, "ChatStorage.sqlite"))
    db.execute("CREATE TABLE ZWACHATSESSION (Z_PK INTEGER PRIMARY KEY, ZCONTACTJID VARCHAR, ZPARTNERNAME VARCHAR)")
    db.execute("CREATE TABLE ZWAMESSAGE (Z_PK INTEGER PRIMARY KEY, ZCHATSESSION INTEGER, ZTEXT VARCHAR)")
    db.execute("INSERT INTO ZWACHATSESSION VALUES (1, '4915100000001@s.whatsapp.net', 'Alice')")
    db.executemany("INSERT INTO ZWAMESSAGE (ZCHATSESSION, ZTEXT) VALUES (1, ?)", [("message %d" % i,) for i in range(200)])
    db.commit()
    db.close()
    rnd = random.Random(7)
    media = os.path.join(folder, "Library", "Media", "4915100000001@s.whatsapp.net", "a", "b")
    os.makedirs(media)
    with open(os.path.join(media, "photo.jpg"), "wb") as f:
        f.write(bytes(rnd.getrandbits(8) for _ in range(300000)))
    profile = os.path.join(folder, "Library", "Media", "Profile")
    os.makedirs(profile)
    with open(os.path.join(profile, "4915100000001-1600000000.thumb"), "wb") as f:
        f.write(b"\xff\xd8thumb")


# ---------------------------------------------------------------- helpers used inside `phonesim run`

class Ctx:
    def __init__(self, phonesim, work):
        self.phonesim = phonesim
        self.work = work
        self.backups = os.path.join(work, "backups")
        os.makedirs(self.backups, exist_ok=True)

    def run(self, args, stdin=None, timeout=TOOL_TIMEOUT):
        # SIGPIPE stays ignored in the tools (restore_signals=False).
        try:
            p = subprocess.run(args, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=timeout, restore_signals=False)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not finish within %d s" % (" ".join(args), timeout))
        out = p.stdout.decode("utf-8", "replace")
        return p.returncode, out

    def ctl(self, *words):
        rc, out = self.run([self.phonesim, "ctl"] + list(words))
        check(rc == 0, "ctl %s failed: %s" % (" ".join(words), out))
        return out.strip()

    def stats(self, udid):
        reply = self.ctl("stats", udid).split()
        return {k: int(v) for k, v in (w.split("=") for w in reply[1:])}

    def phone(self, udid):
        return os.path.join(self.work, "phone-" + udid)

    def container(self, udid, bundle=None, group=None):
        with open(os.path.join(self.phone(udid), "Apps.plist"), "rb") as f:
            apps = plistlib.load(f)
        for a in apps:
            if bundle and a["CFBundleIdentifier"] == bundle:
                return os.path.join(self.phone(udid), "fs/private/var/mobile/Containers/Data/Application", a["Container"])
            if group and group in a.get("GroupContainers", {}):
                return os.path.join(self.phone(udid), "fs/private/var/mobile/Containers/Shared/AppGroup",
                                    a["GroupContainers"][group])
        raise Failure("no container for %s" % (bundle or group))

    def backup(self, udid, *extra):
        rc, out = self.run(["idevicebackup2", "-u", udid, "backup"] + list(extra) + [self.backups])
        check(rc == 0 and "Backup Successful." in out, "backup of %s failed:\n%s" % (udid, out))
        return out

    def stored(self, udid, domain, rel):
        fid = hashlib.sha1(("%s-%s" % (domain, rel)).encode()).hexdigest()
        return os.path.join(self.backups, udid, fid[:2], fid)

    # The limits of the waits below only end a broken test; a loaded machine
    # never reaches them.
    def wait_listed(self, udid, present, seconds=60):
        end = time.time() + seconds
        while time.time() < end:
            rc, out = self.run(["idevice_id", "-l"])
            if (udid in out) == present:
                return
            time.sleep(0.1)
        raise Failure("%s never became %s" % (udid, "listed" if present else "unlisted"))

    def device_id(self, udid):
        """The simulator's own view: the phone's USB device id while attached,
        None while detached. Every attachment gets a new id."""
        for entry in self.ctl("list").split()[1:]:
            parts = entry.split(":")
            if parts[0] == udid:
                return int(parts[2]) if parts[1] == "attached" else None
        raise Failure("%s is not a simulated phone" % udid)

    def wait_reattached(self, udid, old_id, seconds=60):
        """Waits until the phone is attached again under a new id, which
        proves it was detached in between however short that was."""
        end = time.time() + seconds
        while time.time() < end:
            now = self.device_id(udid)
            if now is not None and now != old_id:
                return
            time.sleep(0.05)
        raise Failure("%s was never detached and attached again" % udid)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


WA_GROUP = "group.net.whatsapp.WhatsApp.shared"
WA_GROUP_DOMAIN = "AppDomainGroup-" + WA_GROUP
NOTES_DOMAIN = "AppDomain-com.example.notes"


# ---------------------------------------------------------------- cases

def case_list_and_info(c):
    rc, out = c.run(["idevice_id", "-l"])
    check(rc == 0 and out.split() == [UDID_A], "idevice_id -l listed %r" % out)
    rc, out = c.run(["ideviceinfo", "-u", UDID_A])
    check(rc == 0, "ideviceinfo failed: %s" % out)
    for line in ("MobileSubscriberCountryCode: 310", "DeviceName: Alice's iPhone", "ProductVersion: 14.8",
                 "UniqueDeviceID: " + UDID_A):
        check(line in out, "ideviceinfo lacks %r:\n%s" % (line, out))
    rc, out = c.run(["ideviceinfo", "-u", UDID_A, "-q", "com.apple.mobile.backup"])
    check("WillEncrypt: false" in out and "CloudBackupEnabled: false" in out, "backup domain: %s" % out)
    # Settings changed while running are what lockdown answers next.
    c.ctl("set", UDID_A, "ProductVersion", "15.1")
    c.ctl("set", UDID_A, "CloudBackupEnabled", "true")
    rc, out = c.run(["ideviceinfo", "-u", UDID_A, "-k", "ProductVersion"])
    check(out.strip() == "15.1", "ProductVersion after set: %r" % out)
    rc, out = c.run(["ideviceinfo", "-u", UDID_A, "-q", "com.apple.mobile.backup", "-k", "CloudBackupEnabled"])
    check(out.strip() == "true", "CloudBackupEnabled after set: %r" % out)
    # Detach hides the phone, attach brings it back.
    c.ctl("detach", UDID_A)
    c.wait_listed(UDID_A, False)
    c.ctl("attach", UDID_A)
    c.wait_listed(UDID_A, True)


def case_unix_socket(c):
    check(os.environ["USBMUXD_SOCKET_ADDRESS"].startswith("UNIX:"), "not on a Unix socket")
    rc, out = c.run(["idevice_id", "-l"])
    check(out.split() == [UDID_A], "idevice_id -l over the Unix socket: %r" % out)
    rc, out = c.run(["ideviceinfo", "-k", "MobileSubscriberCountryCode"])
    check(out.strip() == "310", "country code over the Unix socket: %r" % out)


def case_pairing(c):
    records = os.path.join(c.work, "records")
    # Pending: refused until the user trusts the computer.
    rc, out = c.run(["idevicepair", "-u", UDID_A, "pair"])
    check(rc != 0 and "accept the trust dialog" in out, "pending phone paired: %s" % out)
    check(not os.path.exists(os.path.join(records, UDID_A + ".plist")), "a refused pairing left a record")
    c.ctl("trust", UDID_A)
    rc, out = c.run(["idevicepair", "-u", UDID_A, "pair"])
    check(rc == 0 and "SUCCESS: Paired" in out, "trusted phone did not pair: %s" % out)
    record = os.path.join(records, UDID_A + ".plist")
    with open(record, "rb") as f:
        rec = plistlib.load(f)
    check(rec.get("EscrowBag") and rec.get("HostID"), "pair record lacks EscrowBag or HostID")
    rc, out = c.run(["idevicepair", "-u", UDID_A, "validate"])
    check(rc == 0 and "SUCCESS: Validated" in out, "validate failed: %s" % out)
    rc, out = c.run(["ideviceinfo", "-u", UDID_A, "-k", "DeviceName"])
    check(out.strip() == "Alice's iPhone", "session after pairing: %r" % out)
    # Untrust: the phone forgets the host, sessions are refused.
    c.ctl("untrust", UDID_A)
    rc, out = c.run(["idevicepair", "-u", UDID_A, "validate"])
    check(rc != 0, "validate passed on a phone that forgot the host: %s" % out)
    # Deny: the user refused the dialog.
    c.ctl("deny", UDID_A)
    os.remove(record)  # what the program does after a refused pairing
    rc, out = c.run(["idevicepair", "-u", UDID_A, "pair"])
    check(rc != 0 and "denied" in out, "denied pairing: %s" % out)
    # The record file is read on every request: once it is deleted the next
    # connection pairs afresh, and a phone waiting for the user refuses it.
    c.ctl("trust", UDID_A)
    rc, out = c.run(["idevicepair", "-u", UDID_A, "pair"])
    paired_second = int(time.time())
    check(rc == 0, "pair after trust: %s" % out)
    with open(record, "rb") as f:
        old_host = plistlib.load(f)["HostID"]
    os.remove(record)
    # libimobiledevice seeds its host-id generator with the current second, so
    # two pairings within one second would get the same HostID: the next one
    # starts once the clock has passed the second of this one.
    while int(time.time()) <= paired_second:
        time.sleep(0.05)
    c.ctl("pending", UDID_A)
    rc, out = c.run(["idevicepair", "-u", UDID_A, "validate"])
    check(rc != 0, "validate passed without a pair record on a pending phone: %s" % out)
    c.ctl("trust", UDID_A)
    rc, out = c.run(["idevicepair", "-u", UDID_A, "validate"])
    check(rc == 0, "validate after trusting again: %s" % out)
    with open(record, "rb") as f:
        check(plistlib.load(f)["HostID"] != old_host, "no fresh pairing after the record was deleted")


def case_legacy_versions(c):
    # (ProductVersion, what it exercises)
    table = [("9.3.5", "TLS 1.0 at security level 0"),
             ("6.1.3", "ValidatePair in the handshake"),
             ("16.4", "TLS 1.3")]
    for version, what in table:
        c.ctl("set", UDID_A, "ProductVersion", version)
        rc, out = c.run(["ideviceinfo", "-u", UDID_A, "-k", "MobileSubscriberCountryCode"])
        check(rc == 0 and out.strip() == "310", "%s (%s): %r" % (version, what, out))
        rc, out = c.run(["idevicepair", "-u", UDID_A, "validate"])
        check(rc == 0, "%s (%s): validate: %s" % (version, what, out))


def case_backup_incremental(c):
    c.backup(UDID_A)
    first = c.stats(UDID_A)
    check(first["incremental"] == 0 and first["bytes"] > 1000000, "first backup: %r" % first)
    group = c.container(UDID_A, group=WA_GROUP)
    stored = c.stored(UDID_A, WA_GROUP_DOMAIN, "ChatStorage.sqlite")
    check(read_file(stored) == read_file(os.path.join(group, "ChatStorage.sqlite")), "stored ChatStorage.sqlite differs")
    with open(os.path.join(c.backups, UDID_A, "Manifest.plist"), "rb") as f:
        manifest = plistlib.load(f)
    check(manifest["Lockdown"]["ProductVersion"] == "14.8" and manifest["IsEncrypted"] is False, "Manifest.plist")
    with open(os.path.join(c.backups, UDID_A, "Status.plist"), "rb") as f:
        check(plistlib.load(f)["SnapshotState"] == "finished", "Status.plist not finished")
    check(not os.path.exists(os.path.join(c.backups, UDID_A, "Snapshot")), "Snapshot folder left behind")
    db = sqlite3.connect(os.path.join(c.backups, UDID_A, "Manifest.db"))
    rows = dict(db.execute("SELECT domain || '/' || relativePath, flags FROM Files").fetchall())
    db.close()
    for key, flags in [(WA_GROUP_DOMAIN + "/ChatStorage.sqlite", 1), (WA_GROUP_DOMAIN + "/Message/Media", 2),
                       ("AppDomain-net.whatsapp.WhatsApp/Library/Preferences/net.whatsapp.WhatsApp.plist", 1),
                       ("HomeDomain/Library/SMS/sms.db", 1), ("AppDomain-com.example.photos/Documents/empty.txt", 1)]:
        check(rows.get(key) == flags, "manifest row %s: %r" % (key, rows.get(key)))

    # Unchanged phone: the second backup sends under 10 % of the first.
    c.backup(UDID_A)
    second = c.stats(UDID_A)
    check(second["incremental"] == 1 and second["files"] == 0, "second backup: %r" % second)
    check(second["bytes"] * 10 < first["bytes"], "incremental sent %d of %d bytes" % (second["bytes"], first["bytes"]))
    check(read_file(stored) == read_file(os.path.join(group, "ChatStorage.sqlite")), "incremental lost a file")

    # A changed file is sent again and lands beside the others; a removed one leaves the backup.
    notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
    with open(notes, "w") as f:
        f.write("rewritten on the phone")
    os.utime(notes, (time.time() + 10, time.time() + 10))
    sms = os.path.join(c.phone(UDID_A), "fs/private/var/mobile/Library/SMS/sms.db")
    os.remove(sms)
    c.backup(UDID_A)
    third = c.stats(UDID_A)
    check(third["files"] == 1, "third backup sent %r" % third)
    check(read_file(c.stored(UDID_A, NOTES_DOMAIN, "Documents/notes.txt")) == b"rewritten on the phone", "changed file")
    check(not os.path.exists(c.stored(UDID_A, "HomeDomain", "Library/SMS/sms.db")), "removed file still in the backup")
    check(read_file(stored) == read_file(os.path.join(group, "ChatStorage.sqlite")), "neighbour of a changed file lost")

    # A host that lost a stored file (its listing no longer shows it) gets it again.
    os.remove(stored)
    c.backup(UDID_A)
    check(c.stats(UDID_A)["files"] == 1, "lost file not sent again: %r" % c.stats(UDID_A))
    check(read_file(stored) == read_file(os.path.join(group, "ChatStorage.sqlite")), "lost file not restored in backup")


def case_restore_changed_file(c):
    c.backup(UDID_A)
    notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
    original_other = read_file(os.path.join(c.container(UDID_A, bundle="com.example.photos"), "Documents", "album.bin"))
    with open(c.stored(UDID_A, NOTES_DOMAIN, "Documents/notes.txt"), "wb") as f:
        f.write(b"changed in the backup\n")
    # A file the backup does not hold stays (RemoveItemsNotRestored false).
    extra = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "only-on-phone.txt")
    with open(extra, "w") as f:
        f.write("keep me")
    # System files are skipped without --system.
    sms = os.path.join(c.phone(UDID_A), "fs/private/var/mobile/Library/SMS/sms.db")
    sms_before = read_file(sms)
    with open(c.stored(UDID_A, "HomeDomain", "Library/SMS/sms.db"), "wb") as f:
        f.write(b"not restored")
    # Hostile rows of the manifest are skipped: a path leaving its container, a file id with folders.
    db = sqlite3.connect(os.path.join(c.backups, UDID_A, "Manifest.db"))
    blob = db.execute("SELECT file FROM Files WHERE domain=? AND relativePath='Documents/notes.txt'",
                      (NOTES_DOMAIN,)).fetchone()[0]
    for rel, fid in [("../../../../escape.txt", None), ("Documents/odd.txt", "../../../../escaped-id")]:
        fid = fid or hashlib.sha1(("%s-%s" % (NOTES_DOMAIN, rel)).encode()).hexdigest()
        db.execute("INSERT INTO Files VALUES (?,?,?,1,?)", (fid, NOTES_DOMAIN, rel, blob))
        if "/" not in fid:
            os.makedirs(os.path.join(c.backups, UDID_A, fid[:2]), exist_ok=True)
            with open(os.path.join(c.backups, UDID_A, fid[:2], fid), "wb") as f:
                f.write(b"hostile")
    db.commit()
    db.close()
    rc, out = c.run(["idevicebackup2", "-u", UDID_A, "restore", "--skip-apps", "--no-reboot", c.backups])
    check(rc == 0 and "Restore Successful." in out, "restore failed:\n%s" % out)
    for root, dirs, names in os.walk(c.work):
        check("escape.txt" not in names and "escaped-id" not in names, "a hostile row was written in %s" % root)
    check(not os.path.exists(os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "odd.txt")),
          "a row with a hostile file id was restored")
    check(read_file(notes) == b"changed in the backup\n", "phone file not changed: %r" % read_file(notes)[:40])
    check(os.path.exists(extra), "a file outside the backup was removed")
    check(read_file(sms) == sms_before, "a system file was restored without --system")
    photos_doc = os.path.join(c.container(UDID_A, bundle="com.example.photos"), "Documents")
    check(read_file(os.path.join(photos_doc, "album.bin")) == original_other, "other container changed")
    check(os.path.getsize(os.path.join(photos_doc, "empty.txt")) == 0, "0-byte file")
    # Without a reboot a second restore is refused as on a real phone.
    rc, out = c.run(["idevicebackup2", "-u", UDID_A, "restore", "--skip-apps", "--no-reboot", c.backups])
    check("(MBErrorDomain/102)" in out and "Restore Successful." not in out, "second restore:\n%s" % out)
    # After a reboot it works; a restore that reboots detaches and attaches the phone.
    c.ctl("reboot", UDID_A)
    c.wait_listed(UDID_A, True)
    before = c.device_id(UDID_A)
    check(before is not None, "not attached after the reboot")
    rc, out = c.run(["idevicebackup2", "-u", UDID_A, "restore", "--skip-apps", c.backups])
    check("Restore Successful." in out, "restore after reboot:\n%s" % out)
    # The detached spell is short; the new device id proves it happened.
    c.wait_reattached(UDID_A, before)
    c.wait_listed(UDID_A, True)


def case_restore_errors(c):
    # iCloud backup on: backups still work.
    c.ctl("set", UDID_A, "CloudBackupEnabled", "true")
    c.backup(UDID_A)
    restore = ["idevicebackup2", "-u", UDID_A, "restore", "--skip-apps", "--no-reboot", c.backups]
    table = [
        (lambda: c.ctl("set", UDID_A, "FindMyiPhone", "true"),
         lambda: c.ctl("set", UDID_A, "FindMyiPhone", "false"),
         "Find My iPhone must be disabled before restoring (MBErrorDomain/211)"),
        (lambda: c.ctl("fail", UDID_A, "restore-error", "-1", "Connection to device lost"),
         lambda: None, "Connection to device lost"),
        (lambda: c.ctl("fail", UDID_A, "restore-error", "9", "The operation cannot run until Setup is finished"),
         lambda: None, "until Setup is finished"),
    ]
    for arm, disarm, text in table:
        arm()
        rc, out = c.run(restore)
        disarm()
        check(text in out and "Restore Successful." not in out, "expected %r:\n%s" % (text, out))
    # A file the host cannot send: the phone ends with MBErrorDomain/205 and changes nothing.
    notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
    before = read_file(notes)
    with open(c.stored(UDID_A, NOTES_DOMAIN, "Documents/notes.txt"), "wb") as f:
        f.write(b"must not arrive")
    os.remove(c.stored(UDID_A, WA_GROUP_DOMAIN, "ChatStorage.sqlite"))
    rc, out = c.run(restore)
    check("(MBErrorDomain/205)" in out and "Restore Successful." not in out, "missing file:\n%s" % out)
    check(read_file(notes) == before, "a failed restore changed the phone")
    # A generic failure of a backup.
    c.ctl("fail", UDID_A, "backup-error", "105", "Not enough space (MBErrorDomain/105)")
    rc, out = c.run(["idevicebackup2", "-u", UDID_A, "backup", c.backups])
    check("Not enough space" in out and "Backup Successful." not in out, "backup error:\n%s" % out)


def case_encrypted_restore(c):
    rc, out = c.run(["ideviceinfo", "-u", UDID_A, "-q", "com.apple.mobile.backup", "-k", "WillEncrypt"])
    check(out.strip() == "true", "WillEncrypt: %r" % out)
    c.backup(UDID_A)
    folder = os.path.join(c.backups, UDID_A)
    with open(os.path.join(folder, "Manifest.plist"), "rb") as f:
        manifest = plistlib.load(f)
    check(manifest["IsEncrypted"] is True and manifest.get("BackupKeyBag") and manifest.get("ManifestKey"),
          "Manifest.plist of an encrypted backup")
    check(not read_file(os.path.join(folder, "Manifest.db")).startswith(b"SQLite format 3"), "Manifest.db in clear")
    group = c.container(UDID_A, group=WA_GROUP)
    phone_db = read_file(os.path.join(group, "ChatStorage.sqlite"))
    stored = read_file(c.stored(UDID_A, WA_GROUP_DOMAIN, "ChatStorage.sqlite"))
    check(stored != phone_db and len(stored) == (len(phone_db) // 16 + 1) * 16, "stored file not encrypted and padded")
    # The incremental backup of an encrypted phone also sends only what changed.
    first = c.stats(UDID_A)
    c.backup(UDID_A)
    check(c.stats(UDID_A)["bytes"] * 10 < first["bytes"], "encrypted incremental: %r" % c.stats(UDID_A))
    # The phone's file changes; the restore brings back the backed-up content.
    notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
    original = read_file(notes)
    with open(notes, "wb") as f:
        f.write(b"changed on the phone after the backup")
    restore = ["idevicebackup2", "-u", UDID_A, "-i", "restore", "--skip-apps", "--no-reboot", c.backups]
    rc, out = c.run(restore, stdin=b"wrong-password\n")
    check("(MBErrorDomain/207)" in out and "Restore Successful." not in out, "wrong password:\n%s" % out)
    rc, out = c.run(restore, stdin=b"s3cret pw\n")
    check(rc == 0 and "Restore Successful." in out, "restore with password:\n%s" % out)
    check(read_file(notes) == original, "encrypted restore did not bring the file back")
    check(read_file(os.path.join(group, "ChatStorage.sqlite")) == phone_db, "ChatStorage.sqlite changed")


def case_encrypted_real_rounds(c):
    start = time.time()
    c.backup(UDID_A)
    notes = os.path.join(c.container(UDID_A, bundle="com.example.notes"), "Documents", "notes.txt")
    original = read_file(notes)
    with open(notes, "wb") as f:
        f.write(b"changed")
    rc, out = c.run(["idevicebackup2", "-u", UDID_A, "-i", "restore", "--skip-apps", "--no-reboot", c.backups],
                    stdin=b"s3cret pw\n", timeout=240)
    check("Restore Successful." in out, "restore with 10 million rounds:\n%s" % out)
    check(read_file(notes) == original, "file not restored")
    sys.stderr.write("10 million rounds: backup and restore took %.1f s\n" % (time.time() - start))


def case_project_reader(c, password=None):
    """The program's own backup reader finds WhatsApp's database byte for byte in a backup the phone made."""
    cli = os.environ.get("QUILLOMETRY_CLI")
    check(cli and os.path.exists(cli), "QUILLOMETRY_CLI is not set to the command line program")
    c.backup(UDID_A)
    folder = os.path.join(c.backups, UDID_A)
    with open(os.path.join(folder, "Manifest.plist"), "rb") as f:
        check(plistlib.load(f)["IsEncrypted"] is bool(password), "Manifest.plist IsEncrypted")
    phone_db = read_file(os.path.join(c.container(UDID_A, group=WA_GROUP), "ChatStorage.sqlite"))
    check(phone_db.startswith(b"SQLite format 3"), "the phone's ChatStorage.sqlite is no database")
    out = os.path.join(c.work, "read", "ChatStorage.sqlite")
    args = [cli, "itunes-get", folder, WA_GROUP_DOMAIN, "ChatStorage.sqlite", "--out", out]
    if password:
        rc, text = c.run(args + ["--password", "not the password"])
        check(rc == 4 and "Invalid password." in text and not os.path.exists(out), "wrong password:\n%s" % text)
        args += ["--password", password]
    rc, text = c.run(args)
    check(rc == 0, "itunes-get failed:\n%s" % text)
    check(read_file(out) == phone_db, "ChatStorage.sqlite read from the backup differs from the phone's")
    if password:
        stored = read_file(c.stored(UDID_A, WA_GROUP_DOMAIN, "ChatStorage.sqlite"))
        check(stored != phone_db, "the stored ChatStorage.sqlite is not encrypted")
    # The whole import: every message of the phone's database lands in a local database.
    with open(os.path.join(c.work, "expected-messages")) as f:
        expected = f.read().strip()
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(c.work, "data"), TMPDIR=os.path.join(c.work, "tmp"))
    os.makedirs(env["TMPDIR"], exist_ok=True)
    args = [cli, "import", folder] + (["--password", password] if password else [])
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, timeout=TOOL_TIMEOUT,
                       restore_signals=False)
    text = p.stdout.decode("utf-8", "replace")
    check(p.returncode == 0, "import failed:\n%s" % text)
    check(("Imported %s messages" % expected) in text and "Alice's iPhone_Backup" in text,
          "import of %s messages:\n%s" % (expected, text))


def case_project_reader_encrypted(c):
    case_project_reader(c, "s3cret pw")


def case_business_apps(c):
    """A phone with WhatsApp and WhatsApp Business: the backup lists both, and each imports on its own."""
    cli = os.environ.get("QUILLOMETRY_CLI")
    check(cli and os.path.exists(cli), "QUILLOMETRY_CLI is not set to the command line program")
    c.backup(UDID_A)
    folder = os.path.join(c.backups, UDID_A)
    smb_group = c.container(UDID_A, group="group.net.whatsapp.WhatsAppSMB.shared")
    for name in ("ChatStorage.sqlite", "LID.sqlite", "ContactsV2.sqlite"):
        check(os.path.isfile(os.path.join(smb_group, name)), "the phone's Business container lacks " + name)
    rc, text = c.run([cli, "itunes-info", folder])
    check(rc == 0 and "Apps: WhatsApp, WhatsApp Business" in text, "itunes-info:\n%s" % text)
    with open(os.path.join(c.work, "expected-messages")) as f:
        expected = f.read().strip()
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(c.work, "data"), TMPDIR=os.path.join(c.work, "tmp"))
    os.makedirs(env["TMPDIR"], exist_ok=True)
    for args, database in ((["--app", "business"], "Alice's iPhone_Business_Backup"),
                           ([], "Alice's iPhone_Backup")):
        p = subprocess.run([cli, "import", folder] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           env=env, timeout=TOOL_TIMEOUT, restore_signals=False)
        text = p.stdout.decode("utf-8", "replace")
        check(p.returncode == 0, "import %s failed:\n%s" % (args, text))
        check(("Imported %s messages" % expected) in text and database in text, "import %s:\n%s" % (args, text))
        if not args:
            check("--app business" in text, "no note about the other app:\n%s" % text)


def case_two_phones(c):
    rc, out = c.run(["idevice_id", "-l"])
    check(sorted(out.split()) == sorted([UDID_A, UDID_B]), "two phones listed as %r" % out)
    for udid, name in [(UDID_A, "Alice's iPhone"), (UDID_B, "Bob's iPhone")]:
        rc, out = c.run(["ideviceinfo", "-u", udid, "-k", "DeviceName"])
        check(out.strip() == name, "%s answers %r" % (udid, out))
    c.backup(UDID_A)
    c.backup(UDID_B)
    for udid in (UDID_A, UDID_B):
        group = c.container(udid, group=WA_GROUP)
        stored = c.stored(udid, WA_GROUP_DOMAIN, "ChatStorage.sqlite")
        check(read_file(stored) == read_file(os.path.join(group, "ChatStorage.sqlite")), "%s backup mixed up" % udid)
        with open(os.path.join(c.backups, udid, "Manifest.plist"), "rb") as f:
            check(plistlib.load(f)["Lockdown"]["UniqueDeviceID"] == udid, "%s Manifest.plist" % udid)
    # The phones stay independent: detaching one leaves the other listed.
    c.ctl("detach", UDID_B)
    c.wait_listed(UDID_B, False)
    rc, out = c.run(["idevice_id", "-l"])
    check(out.split() == [UDID_A], "after detaching B: %r" % out)


# Chats the program's reader lists: not removed, not broadcast lists.
LISTED = ("ZCHATSESSION in (select Z_PK from ZWACHATSESSION where coalesce(ZREMOVED, 0) = 0 "
          "and ZSESSIONTYPE != 2)")


def query(work, path, sql):
    """Rows of sql on a copy of the database at path (with its -wal), so that
    reading never checkpoints or changes the original."""
    copy = tempfile.mkdtemp(dir=work)
    try:
        for suffix in ("", "-wal"):
            if os.path.exists(path + suffix):
                shutil.copyfile(path + suffix, os.path.join(copy, "db.sqlite" + suffix))
        db = sqlite3.connect(os.path.join(copy, "db.sqlite"))
        try:
            return db.execute(sql).fetchall()
        finally:
            db.close()
    finally:
        shutil.rmtree(copy, ignore_errors=True)


def manifest_class(folder, domain, rel):
    """ProtectionClass of a file's record in a plain backup's Manifest.db."""
    rows = query(os.path.dirname(folder), os.path.join(folder, "Manifest.db"),
                 "select file from Files where domain = '%s' and relativePath = '%s'" % (domain, rel))
    check(len(rows) == 1, "no record of %s %s" % (domain, rel))
    archive = plistlib.loads(rows[0][0])
    top = archive["$objects"][archive["$top"]["root"].data]
    return top.get("ProtectionClass")


def case_itunes_write(c, password=None):
    """Chats of database A written into the backup of phone B (whose database has a
    live -wal) come back to the phone with a restore: B's chats plus A's, once each,
    and A's media."""
    cli = os.environ.get("QUILLOMETRY_CLI")
    check(cli and os.path.exists(cli), "QUILLOMETRY_CLI is not set to the command line program")
    a = os.path.join(c.work, "A")
    b_db = os.path.join(c.work, "chat", "ChatStorage.sqlite")
    group = c.container(UDID_A, group=WA_GROUP)
    phone_db = os.path.join(group, "ChatStorage.sqlite")
    check(os.path.getsize(phone_db + "-wal") > 0, "the phone's database has no live -wal")
    c.backup(UDID_A)
    folder = os.path.join(c.backups, UDID_A)
    if not password:
        for rel, cls in (("ChatStorage.sqlite", 4), ("ChatStorage.sqlite-wal", 4),
                         ("Library/Preferences/%s.plist" % WA_GROUP, 3)):
            got = manifest_class(folder, WA_GROUP_DOMAIN, rel)
            check(got == cls, "%s is backed up in class %r, not %d" % (rel, got, cls))

    env = dict(os.environ, HOME=os.path.join(c.work, "home"), XDG_DATA_HOME=os.path.join(c.work, "data"),
               TMPDIR=os.path.join(c.work, "tmp"))
    os.makedirs(env["TMPDIR"], exist_ok=True)
    args = [cli, "itunes-write", a, folder] + (["--password", password] if password else [])
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=TOOL_TIMEOUT,
                       restore_signals=False)
    out, err = p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")
    check(p.returncode == 0, "itunes-write failed (%d):\n%s%s" % (p.returncode, out, err))
    m = re.match(r"^(\d+) messages transferred to iTunes Backup, (\d+) new\n$", out)
    check(m and int(m.group(2)) > 0, "itunes-write said:\n%s" % out)

    restore = ["idevicebackup2", "-u", UDID_A] + (["-i"] if password else []) + \
        ["restore", "--skip-apps", "--no-reboot", c.backups]
    rc, text = c.run(restore, stdin=(password + "\n").encode() if password else None)
    check(rc == 0 and "Restore Successful." in text, "restore failed:\n%s" % text)

    # The database the phone holds now: whole, with an empty log beside it.
    check(not os.path.exists(phone_db + "-wal") or os.path.getsize(phone_db + "-wal") == 0,
          "a stale -wal is left beside the restored database")
    check(query(c.work, phone_db, "pragma integrity_check") == [("ok",)], "integrity_check of the restored database")
    stanzas = lambda path, where="1": {r[0] for r in query(
        c.work, path, "select ZSTANZAID from ZWAMESSAGE where ZSTANZAID is not null and " + where)}
    merged = stanzas(phone_db)
    b_stanzas = stanzas(b_db, LISTED)
    a_texts = stanzas(os.path.join(a, "ChatStorage.sqlite"), "ZMESSAGETYPE = 0 and " + LISTED)
    check(b_stanzas and a_texts, "the fixtures hold no messages")
    check(not (b_stanzas - merged), "B's messages lost: %s" % sorted(b_stanzas - merged)[:5])
    check(not (a_texts - merged), "A's messages missing: %s" % sorted(a_texts - merged)[:5])
    check(a_texts - b_stanzas, "A adds nothing to B: the case proves nothing")
    dups = query(c.work, phone_db, "select count(*) from (select 1 from ZWAMESSAGE where ZSTANZAID is not null "
                                   "group by ZSTANZAID, ZCHATSESSION having count(*) > 1)")
    check(dups == [(0,)], "duplicated messages: %r" % dups)
    # What B's log held was applied before the merge and survived it.
    logged = query(c.work, phone_db, "select count(*) from ZWACHATSESSION where ZPARTNERNAME = 'Logged name'")
    check(logged == [(1,)], "the change in B's -wal is lost")

    # A's media are on the phone, byte for byte.
    app = c.container(UDID_A, bundle="net.whatsapp.WhatsApp")
    paths = {r[0].lstrip("/") for r in query(
        c.work, os.path.join(a, "ChatStorage.sqlite"),
        "select ZMEDIALOCALPATH from ZWAMEDIAITEM where ZMEDIALOCALPATH is not null and Z_PK in "
        "(select ZMEDIAITEM from ZWAMESSAGE where " + LISTED + ")")}
    plain = re.compile(r"^Media/[A-Za-z0-9._@/-]+$")
    checked = 0
    for rel in sorted(paths):
        source = os.path.join(a, "Library", rel)
        if not plain.match(rel) or rel.startswith("Media/Profile") or not os.path.isfile(source):
            continue
        on_phone = [p for p in (os.path.join(group, "Message", rel), os.path.join(app, "Library", rel))
                    if os.path.isfile(p)]
        check(on_phone, "A's %s is not on the phone" % rel)
        check(read_file(on_phone[0]) == read_file(source), "A's %s differs on the phone" % rel)
        checked += 1
    check(checked >= 4, "only %d of A's media files checked" % checked)


def case_itunes_write_encrypted(c):
    case_itunes_write(c, "s3cret pw")


# (case, phones as (udid, seed options), serve options)
CASES = {
    "list_and_info": (case_list_and_info, [(UDID_A, ["--country", "310"])], []),
    "unix_socket": (case_unix_socket, [(UDID_A, ["--country", "310"])], ["--unix", "{work}/mux.sock"]),
    "pairing": (case_pairing, [(UDID_A, ["--pairing", "pending"])], []),
    "legacy_versions": (case_legacy_versions, [(UDID_A, ["--country", "310"])], []),
    "backup_incremental": (case_backup_incremental, [(UDID_A, [])], []),
    "restore_changed_file": (case_restore_changed_file, [(UDID_A, [])], []),
    "restore_errors": (case_restore_errors, [(UDID_A, [])], []),
    "encrypted_restore": (case_encrypted_restore, [(UDID_A, ["--password", "s3cret pw", "--rounds", "1000"])], []),
    "encrypted_real_rounds": (case_encrypted_real_rounds, [(UDID_A, ["--password", "s3cret pw"])], []),
    "two_phones": (case_two_phones, [(UDID_A, []), (UDID_B, ["--name", "Bob's iPhone"])], []),
    "project_reader": (case_project_reader, [(UDID_A, [])], []),
    "business_apps": (case_business_apps, [(UDID_A, ["--app", "both"])], []),
    "project_reader_encrypted": (case_project_reader_encrypted,
                                 [(UDID_A, ["--password", "s3cret pw", "--rounds", "1000"])], []),
    "itunes_write": (case_itunes_write, [(UDID_A, [])], []),
    "itunes_write_encrypted": (case_itunes_write_encrypted,
                               [(UDID_A, ["--password", "s3cret pw", "--rounds", "1000"])], []),
}

# Cases whose phone holds a chat database written by the project's fixture
# builder (make-chatdb, named by MAKE_CHATDB) instead of the tiny one above.
FIXTURE_CHAT_CASES = {"project_reader", "project_reader_encrypted", "business_apps"}
# Cases whose phone is seeded from database B (live -wal, no media of its
# own) and that write database A (beside it, in A/) into its backup; A and B
# share chats and the stanza ids of their first messages.
WRITE_CASES = {"itunes_write", "itunes_write_encrypted"}
# Cases whose fixture is a recent app's database.
TODAY_CHAT_CASES = {"business_apps"}


def make_fixture_chat_folder(folder, layout="modern", messages=300, extra=()):
    tool = os.environ.get("MAKE_CHATDB")
    if not tool or not os.path.exists(tool):
        raise Failure("MAKE_CHATDB is not set to the fixture builder")
    out = subprocess.run([tool, folder, "--layout", layout, "--messages", str(messages)] + list(extra), check=True,
                         stdout=subprocess.PIPE, restore_signals=False).stdout.decode()
    # What the reader must count, for the import at the end of the case.
    counted = [l.split(":")[1].strip() for l in out.splitlines() if l.startswith("messages counted:")]
    with open(os.path.join(os.path.dirname(folder), "expected-messages"), "w") as f:
        f.write(counted[0] if counted else "")


def serve_seeded(phonesim, work, chat, phones, serve, inner):
    """Seeds the phones (udid, seed options) from the chat folder and runs the inner command under `phonesim run`."""
    args = [phonesim, "run", "--pair-records", os.path.join(work, "records")]
    for udid, opts in phones:
        folder = os.path.join(work, "phone-" + udid)
        seed = [phonesim, "seed", "--phone", folder, "--chat-folder", chat, "--udid", udid,
                "--name", "Alice's iPhone"] + opts
        subprocess.run(seed, check=True, restore_signals=False)
        args += ["--phone", folder]
    args += [a.format(work=work) for a in serve]
    args += ["--"] + inner
    return subprocess.run(args, restore_signals=False).returncode


def run_case(name, body, ctx):
    """Runs one case inside `phonesim run`; prints PASS or FAIL and returns the exit code."""
    try:
        body(ctx)
    except Failure as e:
        print("FAIL %s: %s" % (name, e))
        return 1
    print("PASS %s" % name)
    return 0


def outer(phonesim, name):
    body, phones, serve = CASES[name]
    work = tempfile.mkdtemp(prefix="phonesim-test-")
    try:
        chat = os.path.join(work, "chat")
        if name in WRITE_CASES:
            try:
                make_fixture_chat_folder(os.path.join(work, "A"), messages=40)
                make_fixture_chat_folder(chat, messages=5, extra=["--live-wal"])
            except Failure as e:
                print("FAIL %s: %s" % (name, e))
                return 1
            # B's chat media are not on its phone: A's copies must arrive.
            media = os.path.join(chat, "Library", "Media")
            for entry in os.listdir(media):
                path = os.path.join(media, entry)
                if entry != "Profile":
                    shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        elif name in FIXTURE_CHAT_CASES:
            try:
                make_fixture_chat_folder(chat, "today" if name in TODAY_CHAT_CASES else "modern")
            except Failure as e:
                print("FAIL %s: %s" % (name, e))
                return 1
        else:
            make_chat_folder(chat)
        return serve_seeded(phonesim, work, chat, phones, serve,
                            [sys.executable, os.path.abspath(__file__), "--inner", phonesim, name, work])
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    if len(sys.argv) == 5 and sys.argv[1] == "--inner":
        phonesim, name, work = sys.argv[2:5]
        return run_case(name, CASES[name][0], Ctx(phonesim, work))
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        print("usage: phonesim_test.py PHONESIM CASE (one of %s)" % ", ".join(sorted(CASES)))
        return 2
    return outer(sys.argv[1], sys.argv[2])


if __name__ == "__main__":
    sys.exit(main())
