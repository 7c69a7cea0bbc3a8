"""Checks a running log server from the outside (docs/log-server.md): the upload account can
store a new file in each upload folder and is refused everything else. Uses the server as any
FTP client with the account would, in active mode (the only mode the server offers).

Usage: check_refusals.py HOST PORT USER PASSWORD ROOT
ROOT is the account's chroot on this machine: files the server stored are read there (as
root) to see that a refused command changed nothing. Exits 1 and names every operation that
was not refused.
"""
import ftplib
import io
import os
import sys
import uuid

FOLDERS = ("mox_updater/updaterLog_2.651", "mox_updater/updaterLog2_2.651")


def main():
    host, port, user, password, root = sys.argv[1:6]
    problems = []

    def session():
        ftp = ftplib.FTP()
        ftp.connect(host, int(port), timeout=20)
        ftp.login(user, password)
        ftp.set_pasv(False)
        return ftp

    def refused(name, operation, ftp):
        try:
            operation(ftp)
        except ftplib.error_perm:
            return
        except ftplib.Error as error:  # a temporary failure is no proof of refusal
            problems.append("%s: %s" % (name, error))
            return
        problems.append("%s was allowed" % name)

    def store(path, data):
        return lambda ftp: ftp.storbinary("STOR " + path, io.BytesIO(data))

    ftp = session()
    # What the account is for: a new file in each upload folder, entered the installer's way.
    stored = {}
    for folder in FOLDERS:
        name = "check-%s.log" % uuid.uuid4().hex
        ftp.cwd("/")
        for part in folder.split("/"):
            ftp.cwd(part)
        ftp.storbinary("STOR " + name, io.BytesIO(b"first\n"))
        stored[folder] = name
        with open(os.path.join(root, folder, name), "rb") as f:
            if f.read() != b"first\n":
                problems.append("the upload to %s did not land whole" % folder)
    ftp.cwd("/")

    folder, name = FOLDERS[0], stored[FOLDERS[0]]
    path = "/%s/%s" % (folder, name)
    other = "/%s/%s" % (FOLDERS[1], stored[FOLDERS[1]])
    cases = [
        ("listing the chroot (LIST)", lambda f: f.retrlines("LIST", lambda _: None)),
        ("listing an upload folder (LIST)", lambda f: f.retrlines("LIST /" + folder, lambda _: None)),
        ("listing names (NLST)", lambda f: f.nlst("/" + folder)),
        ("listing facts (MLSD)", lambda f: list(f.mlsd("/" + folder))),
        ("asking a file's status (STAT)", lambda f: f.sendcmd("STAT " + path)),
        ("asking a file's size (SIZE)", lambda f: f.size(path)),
        ("asking a file's time (MDTM)", lambda f: f.sendcmd("MDTM " + path)),
        ("downloading (RETR)", lambda f: f.retrbinary("RETR " + path, lambda _: None)),
        ("deleting (DELE)", lambda f: f.delete(path)),
        ("renaming (RNFR)", lambda f: f.rename(path, path + ".x")),
        ("overwriting (STOR)", store(path, b"replaced\n")),
        ("overwriting in the other folder (STOR)", store(other, b"replaced\n")),
        ("appending (APPE)", lambda f: f.storbinary("APPE " + path, io.BytesIO(b"more\n"))),
        ("resuming (REST)", lambda f: f.sendcmd("REST 1")),
        ("storing under a made-up name (STOU)", lambda f: f.sendcmd("STOU")),
        ("storing in the chroot (STOR)", store("/new.log", b"x\n")),
        ("storing in mox_updater (STOR)", store("/mox_updater/new.log", b"x\n")),
        ("storing outside the chroot (STOR)", store("/../../tmp/kxpatch-escape.log", b"x\n")),
        ("making a folder (MKD)", lambda f: f.mkd("/%s/sub" % folder)),
        ("making a top folder (MKD)", lambda f: f.mkd("/mox_updater/updaterLog_9.999")),
        ("removing a folder (RMD)", lambda f: f.rmd("/" + folder)),
        ("changing modes (SITE CHMOD)", lambda f: f.sendcmd("SITE CHMOD 666 " + path)),
        ("entering a folder outside the chroot (CWD)", lambda f: f.cwd("/etc")),
        ("passive mode (PASV)", lambda f: f.sendcmd("PASV")),
    ]
    for label, operation in cases:
        refused(label, operation, ftp)
    ftp.quit()

    for folder, name in stored.items():
        with open(os.path.join(root, folder, name), "rb") as f:
            if f.read() != b"first\n":
                problems.append("%s/%s changed after the refused commands" % (folder, name))
    for leftover in ("new.log", "mox_updater/new.log", "mox_updater/updaterLog_9.999",
                     FOLDERS[0] + "/sub", FOLDERS[0] + "/" + stored[FOLDERS[0]] + ".x"):
        if os.path.lexists(os.path.join(root, leftover)):
            problems.append("%s exists" % leftover)
    if os.path.lexists("/tmp/kxpatch-escape.log"):
        problems.append("a file was stored outside the chroot")

    # Another account's password, or another account, gets nowhere.
    for who, secret in ((user, password + "x"), ("root", password)):
        try:
            f = ftplib.FTP()
            f.connect(host, int(port), timeout=20)
            f.login(who, secret)
            problems.append("%s logged in with a wrong password" % who)
        except ftplib.error_perm:
            pass

    if problems:
        print("log server: " + "; ".join(problems))
        sys.exit(1)
    print("log server: stores new files in both upload folders; refused %d other operations"
          % len(cases))


if __name__ == "__main__":
    main()
