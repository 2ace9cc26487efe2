# A TLS proxy for the tests and benchmarks that go over https: a certificate authority made on the
# spot, a certificate of it for 127.0.0.1, and Debian's nginx in the foreground serving the
# caller's server blocks. Source it; the caller keeps a pids array that its exit trap kills.

# make_test_ca DIR NAME: DIR/ca.pem (what a client is told to trust), DIR/server.pem and
# DIR/server.key (what the proxy serves, for the address 127.0.0.1). Fails when openssl made none.
make_test_ca() {
  local dir="$1" name="$2"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$name" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
    -copy_extensions copy -out "$dir/server.pem" 2>/dev/null
  [ -s "$dir/server.pem" ] || { echo "openssl made no certificate" >&2; return 1; }
}

# start_nginx DIR SERVERS [ACCESS_LOG]: nginx with its files under DIR/nginx and the server blocks SERVERS
# (nginx's own syntax; DIR/server.pem and DIR/server.key are there for a TLS listener). Its
# pid joins pids; its start-up errors land in DIR/nginx/start.log; requests in DIR/nginx/access.log
# unless ACCESS_LOG says otherwise ("off" for a benchmark). The caller waits for it.
start_nginx() {
  local dir="$1" servers="$2" access="${3:-$1/nginx/access.log}"
  local nginx
  nginx=$(command -v nginx || echo /usr/sbin/nginx)
  [ -x "$nginx" ] || { echo "nginx is not installed (scripts/setup.sh installs it)" >&2; return 1; }
  mkdir -p "$dir/nginx"
  cat >"$dir/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
pid $dir/nginx/nginx.pid;
error_log $dir/nginx/error.log;
events { worker_connections 256; }
http {
  access_log $access;
  client_body_temp_path $dir/nginx/body;
  proxy_temp_path $dir/nginx/proxy;
  fastcgi_temp_path $dir/nginx/fastcgi;
  uwsgi_temp_path $dir/nginx/uwsgi;
  scgi_temp_path $dir/nginx/scgi;
$servers
}
CONF
  "$nginx" -p "$dir/nginx" -c "$dir/nginx/nginx.conf" 2>"$dir/nginx/start.log" &
  pids+=($!)
}
