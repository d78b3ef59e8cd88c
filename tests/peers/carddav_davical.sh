#!/bin/bash
# contavio-book sync URL against DAViCal, served here on 127.0.0.1 by Apache
# with PHP from a PostgreSQL cluster of its own: the suite's server scenario
# (carddav_scenario.sh).
#   carddav_davical.sh PATH/TO/contavio-book
# Needs davical, apache2, libapache2-mod-php, postgresql and curl; exits 77
# (skipped) without them.
set -eu

BOOK_PROGRAM=${1:?usage: carddav_davical.sh PATH/TO/contavio-book}
CREATE_DATABASE=/usr/share/davical/dba/create-database.sh
APACHE_MODULES=/usr/lib/apache2/modules
PHP_MODULE=$(ls "$APACHE_MODULES"/libphp*.so 2>/dev/null | head -1)
PG_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -f "$CREATE_DATABASE" ] || { echo "skipped: DAViCal is not installed"; exit 77; }
[ -x /usr/sbin/apache2 ] && [ -n "$PHP_MODULE" ] || { echo "skipped: Apache with PHP is not installed"; exit 77; }
[ -n "$PG_BIN" ] || { echo "skipped: PostgreSQL is not installed"; exit 77; }
for tool in psql curl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
# PostgreSQL refuses to run as root, and Apache's workers leave it.
as_db=()
apache_user=
if [ "$(id -u)" -eq 0 ]; then
    as_db=(setpriv --reuid=postgres --regid=postgres --init-groups)
    apache_user="User www-data
Group www-data"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/carddav_davical.XXXXXX")
SERVER=$(mktemp -d "${TMPDIR:-/tmp}/carddav_davical_server.XXXXXX")
PIDS=()
cleanup() {
    # Apache first: its workers hold connections to the database.
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null || true
        wait "${PIDS[i]}" 2>/dev/null || true
    done
    rm -rf "$WORK" "$SERVER"
}
trap cleanup EXIT INT TERM
. "$(dirname "$0")/peer_tools.sh"

# The database: a cluster of its own, DAViCal's tables made by its script.
export PGHOST=127.0.0.1 PGPORT
PGPORT=$(free_port)
mkdir -p "$SERVER/run"
[ ${#as_db[@]} -eq 0 ] || chown postgres "$SERVER" "$SERVER/run"
"${as_db[@]}" "$PG_BIN/initdb" -D "$SERVER/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 \
    >"$SERVER/initdb.log" 2>&1 || fail "initdb: $(cat "$SERVER/initdb.log")"
"${as_db[@]}" "$PG_BIN/postgres" -D "$SERVER/data" -h 127.0.0.1 -p "$PGPORT" -k "$SERVER/run" -c fsync=off \
    >"$SERVER/postgres.log" 2>&1 &
PIDS+=($!)
tries=0
until "$PG_BIN/pg_isready" -q; do
    tries=$((tries + 1)); [ $tries -lt 150 ] || fail "PostgreSQL did not start: $(cat "$SERVER/postgres.log")"; sleep 0.1
done
PGUSER=postgres sh "$CREATE_DATABASE" davical "$(head -c 12 /dev/urandom | base64)" >"$SERVER/davical.log" 2>&1 ||
    fail "DAViCal's database: $(cat "$SERVER/davical.log")"
# A user is a row of usr and one of principal; "**" marks a plain password.
psql -qX -v ON_ERROR_STOP=1 -U davical_dba davical >/dev/null <<'EOF' || fail "could not add the user"
INSERT INTO usr (active, username, password, fullname, email)
    VALUES (TRUE, 'ana', '**clave', 'Ana', 'ana@example.org');
INSERT INTO principal (type_id, user_no, displayname, default_privileges)
    SELECT 1, user_no, fullname, 0::BIT(24) FROM usr WHERE username = 'ana';
EOF

# Apache with PHP; DAViCal's own configuration (/etc/davical/config.php)
# reaches this cluster through PGHOST and PGPORT.
PORT=$(free_port)
cat >"$SERVER/apache.conf" <<EOF
ServerName 127.0.0.1
Listen 127.0.0.1:$PORT
PidFile $SERVER/run/apache.pid
DefaultRuntimeDir $SERVER/run
ErrorLog $SERVER/apache.log
$apache_user
LoadModule mpm_prefork_module $APACHE_MODULES/mod_mpm_prefork.so
LoadModule authz_core_module $APACHE_MODULES/mod_authz_core.so
LoadModule mime_module $APACHE_MODULES/mod_mime.so
LoadModule dir_module $APACHE_MODULES/mod_dir.so
LoadModule rewrite_module $APACHE_MODULES/mod_rewrite.so
LoadModule php_module $PHP_MODULE
StartServers 2
MaxRequestWorkers 8
TypesConfig /etc/mime.types
DocumentRoot /usr/share/davical/htdocs
<Directory /usr/share/davical/htdocs>
    Require all granted
    AllowOverride None
    DirectoryIndex index.php
    php_value include_path /usr/share/awl/inc
    php_value default_charset utf-8
</Directory>
<FilesMatch "\.php$">
    SetHandler application/x-httpd-php
</FilesMatch>
RewriteEngine On
RewriteRule ^/\.well-known/(.*)$ /caldav.php/.well-known/\$1 [L]
EOF
# In a session of its own: at its end Apache signals its whole process group.
setsid /usr/sbin/apache2 -f "$SERVER/apache.conf" -D FOREGROUND >"$SERVER/apache.out" 2>&1 &
PIDS+=($!)
ROOT="http://127.0.0.1:$PORT/"
tries=0
until curl -s -o /dev/null "$ROOT"; do
    tries=$((tries + 1)); [ $tries -lt 150 ] || fail "Apache did not start: $(cat "$SERVER/apache.out")"; sleep 0.1
done
BOOK="${ROOT}caldav.php/ana/contactos/"
curl -sf -u ana:clave -X MKCOL -H 'Content-Type: application/xml' --data-binary \
'<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"><set><prop>
<resourcetype><collection/><CR:addressbook/></resourcetype><displayname>Contactos</displayname>
</prop></set></mkcol>' "$BOOK" >/dev/null || fail "could not create the address book: $(cat "$SERVER/apache.log")"

. "$(dirname "$0")/carddav_scenario.sh"
# DAViCal answers a PUT without an ETag and stores the card with a REV line
# added: the sync asks the ETags of the cards it wrote, and knows them by
# them from then on.
carddav_scenario davical "$ROOT" "$BOOK" ana clave
echo "all DAViCal CardDAV tests passed"
