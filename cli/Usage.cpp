#include "cli/Usage.h"

#include <functional>

namespace quorvane {

namespace {

constexpr const char* CommandLines =
    "usage: quorvane-cli create  SAFE [--force] [--allow-empty-password] [--sealed]\n"
    "       quorvane-cli list    SAFE [--json]\n"
    "       quorvane-cli add     SAFE FILE... [--erase-originals]\n"
    "       quorvane-cli extract SAFE DIR [NUMBER...] [--name NAME]...\n"
    "       quorvane-cli rename  SAFE NUMBER NEWNAME\n"
    "       quorvane-cli rename  SAFE --name NAME NEWNAME\n"
    "       quorvane-cli delete  SAFE {NUMBER | --name NAME}...\n"
    "       quorvane-cli passwd  SAFE [--new-password-file F]\n"
    "                                 [--allow-empty-password]\n"
    "       quorvane-cli seal    SAFE\n"
    "       quorvane-cli info    SAFE [--json]\n"
    "       quorvane-cli mount   SAFE DIR [--read-only]\n"
    "       quorvane-cli help    [COMMAND]\n"
    "       quorvane-cli --help | --version\n";

constexpr const char* Details = R"(
Keeps files inside one encrypted safe (.cx), the same safes as the desktop
program quorvane. Every command that changes a safe writes it back before it
exits, by writing a fresh file beside it and renaming it over the safe; if
anything fails, the safe file stays as it was.

Commands:
  create SAFE      write a new, empty safe; an existing file is refused
                   unless --force is given; with --sealed it is sealed
  list SAFE        one line per stored file: NUMBER, TAB, SIZE (bytes),
                   TAB, NAME; with --json one JSON document instead
  add SAFE FILE... store the files in this order, as a drop on the window
                   does; a FILE that is a folder stands for every regular
                   file in it and below, in the order of their paths
                   (links are not followed; links, other kinds of file and
                   empty files are listed and left out); all or nothing:
                   the first file that cannot be read or stored is named
                   and ends the add, and the safe stays as it was. With
                   --erase-originals each stored original is overwritten and
                   deleted after the safe holding it has been written (and
                   only if it has not changed since it was stored). A name
                   keeps at most 50 bytes, cut between UTF-8 characters;
                   a stored name that another entry has too is reported
  extract SAFE DIR [NUMBER...]
                   write the entries given by NUMBER or --name (all when
                   none is given) into DIR, which must exist; files of the
                   same name that were there before are replaced, but a
                   file this extraction wrote never is: a later entry of
                   the same name goes under "NAME (2).EXT" (the next free
                   number), one line each; names that would lead outside
                   DIR are skipped
  rename SAFE NUMBER NEWNAME
                   give an entry a new name (at most 49 bytes); the entry
                   may be given by --name NAME instead of NUMBER. A name
                   extracting could not write (empty, ".", "..", with "/"
                   or a control character) is refused with status 2
  delete SAFE NUMBER...
                   remove the numbered entries (numbers as list shows them
                   before the delete; one given twice counts once); later
                   entries move up; one number the safe does not have
                   refuses the whole delete; entries may be given by
                   --name NAME as well
  passwd SAFE      encrypt the safe under a new password (a sealed safe gets
                   a new salt with it)
  seal SAFE        write the safe sealed (asks for its password)
  info SAFE        print the safe's format without asking for a password:
                   "format: plain" and a note that the plain format has no
                   signature (any file that is not sealed shows as plain),
                   or "format: sealed" and a line
                   "kdf: argon2id passes=N memory=NKiB"; with --json one
                   JSON document
  mount SAFE DIR   show the safe as the folder DIR (an empty folder) that
                   any program can read and write, until Ctrl-C, SIGTERM
                   or 'fusermount3 -u DIR'; then write the safe if it
                   changed, as every command does. Meanwhile the safe is
                   written by itself once no file in the folder has been
                   written for 10 seconds (at most once a minute). One file
                   per entry (a second entry of one name shows as "NAME
                   (2).EXT"); a file written in the folder becomes an entry
                   when it is closed. Names keep at most 50 bytes (longer:
                   ENAMETOOLONG), no sub-folders (EPERM), the safe stays
                   under 4 GiB (EFBIG). With --read-only, or for a safe that
                   did not load cleanly, nothing can change (EROFS). Other
                   programs may keep copies of what they open (temporary
                   files, thumbnails, recent-file lists): see the manual
  help [COMMAND]   print this text, or only COMMAND's usage and description

Options (anywhere on the line; "--" ends them):
  --password-file F      read the password from the first line of F ("-":
                         standard input; at a terminal it is typed as at the
                         prompt); the line ending is not part of it.
                         For create this is the new safe's password.
  --new-password-file F  passwd: the new password, read the same way
  --force                create: replace an existing file
  --sealed               create: make a sealed safe
  --allow-empty-password create, passwd: accept an empty new password from a
                         password file, and on the terminal without the
                         [y/N] question
  --erase-originals      add: erase each original after it is stored
  --read-only            mount: a folder whose files cannot be changed
  --json                 list, info: print one JSON document: list gives
                         {"entries":[{"number","name","size"}...]}, with
                         "name_hex" (the stored bytes) where a name is not
                         UTF-8; info gives "format", "signature" and "kdf"
  --name NAME            extract, rename, delete: the entry stored under NAME
                         (exactly, byte for byte), where a NUMBER is taken;
                         may be given again for more entries. A NAME that no
                         entry has, or that several have, is refused
  --help, --version

Without a password file the password is asked on the terminal without echo,
twice for create and for the new password of passwd. A password has at most
249 bytes; a password file whose first line is longer is refused. An empty
new password is refused from a password file unless
--allow-empty-password is given; typed on the terminal, it must be confirmed
with y or yes. Passwords are never taken from the command line or the
environment.

Sealed safes: the key is derived from the password with Argon2id (a random
salt per safe, 3 passes over 64 MiB), so that each guess at the password
costs time and memory, and the content is sealed in pieces with
XChaCha20-Poly1305, so that a wrong password, a changed or cut-off safe file
and bytes added to it are refused instead of opening damaged. A plain safe
has none of this: its key is the SHA-256 of the password and nothing detects
a change. Sealing does not help against a weak password, does not protect
the plaintext working copy while a safe is open, and a sealed safe can be
read only by programs that know the sealed format. Every command works on
both kinds; new safes are plain unless --sealed is given.

In the names printed by list, a backslash, TAB, newline and carriage return
are written as \\, \t, \n and \r, and every other byte below 0x20 and the
byte 0x7f as \xHH with two lowercase hexadecimal digits, as are the bytes of
C1 controls, line separators and direction marks, and bytes that are no
UTF-8. Other bytes are printed as they are stored. Messages show stored
names the same way.

On a terminal, long steps show a progress line on standard error; an add of
several files shows one line over all of them ("Adding file 2,345 of 5,000,
640 MB of 1.4 GB, 0:42 left") once it has run for half a second. Messages
go to standard error, prefixed "quorvane-cli: ".

Exit status:
  0  success
  1  the operation failed (a file refused, unreadable or unwritable, a name
     skipped, the safe could not be written); an add that fails leaves the
     safe unchanged
  2  bad usage (unknown command or option, wrong arguments, an entry
     number the safe does not have, a --name that names no entry or
     several, no password to be had, an empty new
     password not allowed)
  3  the safe could not be opened: missing or unreadable (with the system's
     reason, before any password is asked), or "Invalid File or Password"
     (wrong password, not a safe, a sealed header out of bounds); a sealed
     safe changed or cut off after its first part is reported as damaged,
     with status 1
  4  add: every file was stored and the safe written, but an original was
     not erased (it changed meanwhile, or could not be deleted)
)";

// The lines of text from which on, one at a time, up to (not with) the first
// for which ends() is true.
std::string linesFrom(const std::string& text, std::size_t from,
                      const std::function<bool(const std::string&)>& ends) {
    std::string taken;
    for (std::size_t end; from < text.size(); from = end + 1) {
        end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(from, end - from);
        if (!taken.empty() && ends(line))
            break;
        taken += line + '\n';
    }
    return taken;
}

} // namespace

// Taken from the full help, so that the two never tell different stories: the
// command's lines of the usage (with the line that continues one) and its
// paragraph under "Commands:".
std::optional<std::string> commandHelp(const std::string& command) {
    const std::string lines = CommandLines;
    const std::string details = Details;
    std::string usage;
    // Each usage line is "usage: " or as many spaces, then the tool's name.
    const std::string start = "quorvane-cli " + command + " ";
    for (std::size_t at = 0; (at = lines.find(start, at)) != std::string::npos; ++at) {
        const std::size_t lineStart = at - 7;
        usage += linesFrom(lines, lineStart, [](const std::string& line) {
            return line.find("quorvane-cli") != std::string::npos;
        });
    }
    const std::size_t section = details.find("\nCommands:\n");
    const std::size_t paragraph = details.find("\n  " + command + " ", section);
    if (usage.empty() || section == std::string::npos || paragraph == std::string::npos)
        return std::nullopt;
    usage.replace(0, 7, "usage: ");
    return usage + "\n" + linesFrom(details, paragraph + 1, [](const std::string& line) {
               return line.size() < 3 || line[2] != ' ';
           });
}

std::string helpText() {
    return std::string(CommandLines) + Details;
}

std::string versionText() {
    return std::string("quorvane-cli ") + QUORVANE_VERSION + "\n";
}

} // namespace quorvane
