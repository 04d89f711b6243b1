<?php
// The synchronisation script the bridge calls: ?prikaz=1 tables, 2 chip event, 4 poll,
// 6 card event, 7 the unit's clock report.

declare(strict_types=1);
require __DIR__ . '/lib.php';

function kvsync_event(int $prikaz): string
{
    $db = kvweb_db();
    $p = fn(string $k) => isset($_GET[$k]) ? (string)$_GET[$k] : null;

    $employee = false;
    $reason = null;
    if ($prikaz === 2) {
        // A chip event names the employee by the index the unit holds him under.
        $kod = $p('kod');
        if ($kod === null || !ctype_digit($kod)) {
            $reason = 'Chybí kód čipu';
        } else {
            $st = $db->prepare('SELECT * FROM employees WHERE idx = ?');
            $st->execute([(int)$kod]);
            $employee = $st->fetch();
            if ($employee === false) {
                $reason = "Neznámý čip, kód $kod";
            }
        }
    } else {
        $karta = strtoupper($p('karta') ?? '');
        if (!preg_match('/^[0-9A-F]{12}$/', $karta)) {
            $reason = 'Chybné číslo karty';
        } else {
            $st = $db->prepare('SELECT * FROM employees WHERE card = ?');
            $st->execute([$karta]);
            $employee = $st->fetch();
            if ($employee === false) {
                $reason = "Neznámá karta $karta";
            }
        }
    }

    $st = $db->prepare('INSERT INTO events (prikaz, indexza, kod, karta, typpr, misto, datum, httphost,
                            firma, query, ok, name, reason, received)
                        VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)');
    $st->execute([$prikaz, $p('indexza'), $p('kod'), $p('karta'), $p('typpr'), $p('misto'), $p('datum'),
        $p('httphost'), $p('firma'), $_SERVER['QUERY_STRING'] ?? '', $employee === false ? 0 : 1,
        $employee === false ? null : $employee['name'], $reason, date('Y-m-d H:i:s')]);
    $id = $db->lastInsertId();

    if ($employee === false) {
        return kvweb_padded(['---Err--', kvweb_cp1250($reason), "# udalost $id odmitnuta"]);
    }
    return kvweb_padded(['---OK---', kvweb_cp1250($employee['name']), "# udalost $id ulozena"]);
}

function kvsync_poll(): string
{
    $version = kvweb_meta('tables_version');
    if ($version !== kvweb_meta('announced_version')) {
        kvweb_set_meta('announced_version', $version);
        return kvweb_padded(['tabsync', "verze $version", '# tabulky zmeneny']);
    }
    return kvweb_padded(['---OK---', 'beze zmen', '# zadne nove tabulky']);
}

$prikaz = $_GET['prikaz'] ?? '';
$fault = kvweb_fault();
if ($fault === '500') {
    http_response_code(500);
    kvweb_send_text(kvweb_padded(['Internal Server Error', '# kvsync fault 500']));
    exit(0);
}
$db = kvweb_db();
$db->beginTransaction();
switch ($prikaz) {
    case '1':
        $answer = kvweb_table_reply();
        break;
    case '2':
    case '6':
        $answer = kvsync_event((int)$prikaz);
        break;
    case '4':
        $answer = kvsync_poll();
        break;
    case '7':
        $answer = kvweb_padded(['---OK---', kvweb_cp1250('Čas řídící jednotky přijat')]);
        break;
    default:
        $answer = kvweb_padded(['---Err--', kvweb_cp1250('Neznámý příkaz'), '# kvsync']);
}
kvweb_log_request('kvsync.php', $answer);
$db->commit();
if ($fault === 'reset') {
    kvweb_send_cut($answer);
}
kvweb_send_text($answer);
