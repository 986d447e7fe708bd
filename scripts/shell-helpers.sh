# Helpers shared by the project's scripts (sourced, not run).

# A Unix path as Wine names it: its drive Z: is the Unix root.
windows_path() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

# A TCP port on 127.0.0.1 that nothing listens on right now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
