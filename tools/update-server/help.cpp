// The operator's reference, printed by --help (docs/server.md says the same
// at more length).
#include "help.h"

namespace tvserver {

const char* HelpText() {
    return R"(usage:
  torvane-update-server [serve] [OPTIONS] CONTENT_DIR
  torvane-update-server publish [--level N|best] [--no-switch] CONTENT_DIR
  torvane-update-server server-list PLAIN_LIST SERVER_CNV
  torvane-update-server server-list --decode SERVER_CNV PLAIN_LIST|-

The update server of Torvane. It serves the latest published snapshot of
CONTENT_DIR to update clients (TCP, IPv4).

serve (the default) options:
  --bind ADDR            IPv4 address to listen on (default 127.0.0.1, this
                         machine only; players elsewhere need an explicit
                         address, e.g. --bind 0.0.0.0)
  --port N               TCP port (default 43001; 0 picks a free one)
  --threads N            serving threads, at most one per core (default 1)
  --max-connections N    open connections in all (default: 10000, or what
                         the descriptor limit allows); more are reset at once
  --max-per-address N    open connections from one client address (default
                         64; 0: no limit); more are reset at once
  --request-timeout S    seconds a client has for its version request after
                         the version reply (default 15)
  --stall-timeout S      seconds a client's side may take no data before the
                         connection is dropped (default 60)
  --grace S              after SIGTERM, seconds running transfers may take
                         to finish (default 30)
  --status-interval S    a status line every S seconds (default 60; 0: only
                         on SIGUSR1)
  --limit-loopback       send clients on 127.0.0.1 at most 104857600 bytes per
                         run too (for a proxy on this machine in front)
  --no-redirect          send no redirect whatever manifest.txt says (a pool
                         server publishing the main server's content)
  --once                 serve one client, then exit (tests)
  If nothing is published yet, serve publishes CONTENT_DIR first.

Signals (serve):
  SIGHUP    switch to the snapshot published last; connected clients finish
            with the snapshot they started with
  SIGUSR1   log the counters now
  SIGTERM   stop accepting, let running transfers finish (--grace), exit 0;
  SIGINT    a second SIGTERM or SIGINT exits at once

publish:
  Compresses every file of CONTENT_DIR/manifest.txt into a cache in
  CONTENT_DIR/.torvane-publish/ (each file once: unchanged files come from
  the cache), writes an immutable snapshot, makes it current and asks every
  server running on CONTENT_DIR to switch to it (--no-switch: do not ask).
  A PATH that already holds gzip, PKZIP (one entry), LZW, pack or LZH data
  that the client decodes is sent as it is, unless NAME itself ends in a
  compressed suffix (.gz .z .zip .lzh .lha .tgz .taz): the player then gets
  the compressed file itself. --level: 1 (fastest) to 9 (default), or best.
  Refused, with every reason listed and nothing changed: a file version above
  the version line for its group, a name the client refuses or stores twice,
  a name used as a file and as a directory, a body of 2 GiB or more, more
  than 65535 files in a group. A warning when a body, or a full update from
  version 0 0, is above 104857600 bytes: clients not on loopback take at most
  that much per run.

manifest.txt (in CONTENT_DIR; blank lines and lines starting with # are
ignored; a field holding blanks is written in double quotes):
  version V0 V1                the server's version pair (required, once)
  redirect A.B.C.D [...]       download servers, one handed out per version
                               reply in turn; clients not on loopback
                               reconnect to it on port 43001 (optional, one
                               line, no duplicates, no 0.0.0.0 or
                               255.255.255.255)
  file GROUP VERSION NAME PATH one line per file
    GROUP    0 or 1; group 0 is sent before group 1
    VERSION  0 to 4294967295; a client gets the files of a group whose
             VERSION is above its own value for that group, by VERSION
             (manifest order among equals), and then holds the VERSION of
             the last file it got
    NAME     the name the client stores, a relative path with backslashes
             (Data\Maps\track.map); Update.exe is stored as Update0.exe and
             File.ver as null.dat (never unpacked)
    PATH     the file in CONTENT_DIR, relative, with forward slashes

100 MiB rule: a client not on 127.0.0.1 refuses a list above 104857600
bytes, so such a client is sent the longest prefix of its files (in sending
order) that fits; its next run asks for the rest. The log says so.

server-list:
  Checks a plain server list (INI: [Server], Count=N, Name0=.., IP0=.. up to
  N-1; names at most 127 bytes, dotted IPv4 addresses) and writes it as the
  scrambled Server.cnv the client reads. --decode turns a Server.cnv back into
  plain text (- writes it to standard output).

Log (standard output, unbuffered, UTC time stamps): one line per connection
at its end: client address and port, snapshot, version pair received, files
and bytes sent, duration, outcome; refused connections; switches; status
lines (open, accepted, served, refused, dropped, failed connections, bytes).
Errors at start go to standard error, exit code 2.
)";
}

} // namespace tvserver
