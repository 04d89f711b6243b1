<?php
// Shared by the scripts of the stand-in web application: the database, the seed, the table
// reply and the plain-text answers in Windows-1250.

declare(strict_types=1);

// The bridge ignores a reply of 30 bytes or less, so every answer is made longer than that.
const KVWEB_MIN_REPLY = 31;

function kvweb_db_path(): string
{
    $path = getenv('KVWEB_DB');
    if ($path === false || $path === '') {
        $path = sys_get_temp_dir() . '/kvweb.sqlite';
    }
    return $path;
}

function kvweb_db(): PDO
{
    static $db = null;
    if ($db !== null) {
        return $db;
    }
    $db = new PDO('sqlite:' . kvweb_db_path());
    $db->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
    $db->setAttribute(PDO::ATTR_DEFAULT_FETCH_MODE, PDO::FETCH_ASSOC);
    $db->exec('PRAGMA busy_timeout = 5000');
    kvweb_create_schema($db);
    return $db;
}

function kvweb_create_schema(PDO $db): void
{
    $db->exec(<<<'SQL'
        CREATE TABLE IF NOT EXISTS employees (
            idx      INTEGER PRIMARY KEY,      -- table index; the unit reports it as kod
            chip     TEXT NOT NULL,            -- 12 hex digits
            card     TEXT NOT NULL,            -- 12 hex digits as the bridge sends &karta=
            name     TEXT NOT NULL,            -- UTF-8 here, Windows-1250 on the wire
            arrival  TEXT NOT NULL,            -- hhmm
            category INTEGER NOT NULL,
            balance  INTEGER NOT NULL          -- minutes, may be negative
        );
        CREATE TABLE IF NOT EXISTS categories (
            num      INTEGER PRIMARY KEY,
            kind     INTEGER NOT NULL,
            from_min INTEGER NOT NULL,
            to_min   INTEGER NOT NULL,
            flags    INTEGER NOT NULL
        );
        CREATE TABLE IF NOT EXISTS events (
            id       INTEGER PRIMARY KEY AUTOINCREMENT,
            prikaz   INTEGER NOT NULL,
            indexza  TEXT, kod TEXT, karta TEXT, typpr TEXT, misto TEXT, datum TEXT,
            httphost TEXT, firma TEXT,
            query    TEXT NOT NULL,
            ok       INTEGER NOT NULL,
            name     TEXT,                     -- the worker named in the answer
            reason   TEXT,                     -- why it was refused
            received TEXT NOT NULL
        );
        CREATE TABLE IF NOT EXISTS requests (
            id       INTEGER PRIMARY KEY AUTOINCREMENT,
            script   TEXT NOT NULL,
            prikaz   TEXT,
            query    TEXT NOT NULL,
            answer   BLOB NOT NULL,
            received TEXT NOT NULL
        );
        CREATE TABLE IF NOT EXISTS meta (
            key   TEXT PRIMARY KEY,
            value TEXT NOT NULL
        );
        SQL);
    $seeded = $db->query("SELECT value FROM meta WHERE key = 'seeded'")->fetchColumn();
    if ($seeded === false) {
        kvweb_seed($db);
    }
}

function kvweb_seed(PDO $db): void
{
    $seed = require __DIR__ . '/seed.php';
    $db->beginTransaction();
    $emp = $db->prepare('INSERT INTO employees (idx, chip, card, name, arrival, category, balance)
                         VALUES (?, ?, ?, ?, ?, ?, ?)');
    foreach ($seed['employees'] as [$idx, $chip, $name, $arrival, $category, $balance]) {
        $emp->execute([$idx, $chip, kvweb_card_of_chip($chip), $name, $arrival, $category, $balance]);
    }
    $cat = $db->prepare('INSERT INTO categories (num, kind, from_min, to_min, flags) VALUES (?, ?, ?, ?, ?)');
    foreach ($seed['categories'] as $row) {
        $cat->execute($row);
    }
    // A fresh seed is the state the unit already holds: no "tabsync" until something changes.
    $db->exec("INSERT OR REPLACE INTO meta (key, value) VALUES ('seeded', '1'), ('tables_version', '1'),
               ('announced_version', '1')");
    $db->commit();
}

// A card read by a terminal travels low byte first, so a card carrying the chip's number
// reaches the web application with its byte pairs in reverse order.
function kvweb_card_of_chip(string $chip): string
{
    return implode('', array_reverse(str_split(strtoupper($chip), 2)));
}

function kvweb_meta(string $key): string
{
    $st = kvweb_db()->prepare('SELECT value FROM meta WHERE key = ?');
    $st->execute([$key]);
    $v = $st->fetchColumn();
    return $v === false ? '' : (string)$v;
}

function kvweb_set_meta(string $key, string $value): void
{
    kvweb_db()->prepare('INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)')->execute([$key, $value]);
}

// Any change of employees or categories makes the next poll answer "tabsync".
function kvweb_tables_changed(): int
{
    $version = (int)kvweb_meta('tables_version') + 1;
    kvweb_set_meta('tables_version', (string)$version);
    return $version;
}

function kvweb_cp1250(string $utf8): string
{
    $out = iconv('UTF-8', 'CP1250//TRANSLIT', $utf8);
    return $out === false ? '?' : $out;
}

// Lines end in LF alone: the bridge puts a CR before every LF itself, so CR LF here would give
// it an empty line after every line.
function kvweb_lines(array $lines): string
{
    return implode("\n", $lines) . "\n";
}

// Pads with a trailing comment line, which the bridge passes over in every kind of reply but
// the table download (that one is padded on its separator line instead).
function kvweb_padded(array $lines): string
{
    $body = kvweb_lines($lines);
    if (strlen($body) < KVWEB_MIN_REPLY) {
        $body .= str_pad('# kvsync', KVWEB_MIN_REPLY, '.') . "\n";
    }
    return $body;
}

// The table reply: section 1 index|chip|hhmm|category|balance, a separator line, section 2
// num|kind|minutes|minutes|flags.  The separator line is long, so even empty tables make a
// reply the bridge reads; a line starting with "-------" is never taken for a record.
function kvweb_table_reply(): string
{
    $db = kvweb_db();
    $lines = [];
    foreach ($db->query('SELECT * FROM employees ORDER BY idx') as $e) {
        $lines[] = sprintf('%d|%s|%s|%d|%d', $e['idx'], strtoupper($e['chip']), $e['arrival'],
            $e['category'], $e['balance']);
    }
    $lines[] = '------- kategorie ------- verze ' . kvweb_meta('tables_version');
    foreach ($db->query('SELECT * FROM categories ORDER BY num') as $c) {
        $lines[] = sprintf('%d|%d|%d|%d|%d', $c['num'], $c['kind'], $c['from_min'], $c['to_min'], $c['flags']);
    }
    return kvweb_lines($lines);
}

function kvweb_log_request(string $script, string $answer): void
{
    $st = kvweb_db()->prepare('INSERT INTO requests (script, prikaz, query, answer, received)
                               VALUES (?, ?, ?, ?, ?)');
    $st->execute([$script, $_GET['prikaz'] ?? null, $_SERVER['QUERY_STRING'] ?? '', $answer,
        date('Y-m-d H:i:s')]);
}

function kvweb_send_text(string $body): void
{
    header('Content-Type: text/plain; charset=windows-1250');
    header('Cache-Control: no-store');
    header('Content-Length: ' . strlen($body));
    echo $body;
}

// Faults on request, for the soak: the file named by KVWEB_FAULTS holds one word that applies
// to the next kvsync.php request, which empties the file.
//   500    the request fails with "500 Internal Server Error", nothing stored
//   reset  the request is handled and stored, then the connection ends half-way through the
//          answer (the body falls short of its Content-Length)
// An empty or missing file means no fault.
function kvweb_fault(): string
{
    $file = getenv('KVWEB_FAULTS');
    if ($file === false || $file === '' || !is_file($file)) {
        return '';
    }
    $fault = trim((string)@file_get_contents($file));
    if ($fault !== '') {
        file_put_contents($file, '');
    }
    return $fault;
}

function kvweb_send_cut(string $body): void
{
    header('Content-Type: text/plain; charset=windows-1250');
    header('Content-Length: ' . (strlen($body) + 1000));
    echo substr($body, 0, intdiv(strlen($body), 2));
    flush();
    exit(0);
}

function kvweb_drive_c(): string
{
    $root = getenv('KVBRIDGE_DRIVE_C');
    if ($root === false || $root === '') {
        $root = '/';
    }
    return rtrim($root, '/') . '/';
}
