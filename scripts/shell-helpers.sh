# Helpers shared by the project's scripts (sourced, not run).

# A Unix path as Wine names it: its drive Z: is the Unix root.
windows_path() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

# A TCP port on 127.0.0.1 that nothing listens on right now; free_port N prints N different ones,
# one a line (one Python start-up for all).
free_port() {
  python3 -c 'import socket, sys
sockets = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print("\n".join(str(s.getsockname()[1]) for s in sockets))' "${1:-1}"
}
