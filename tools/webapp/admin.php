<?php
// For tests and the demo, not for the bridge: look at what arrived, change the tables, and drop
// the trigger files the attendance application leaves on drive C: when its tables change.
//
//   admin.php?action=events                  stored chip and card events (JSON)
//   admin.php?action=requests[&prikaz=N]     every request with its answer (JSON)
//   admin.php?action=tables                  the table reply as ?prikaz=1 serves it now
//   admin.php?action=add_employee&idx=..&chip=..&name=..[&card=..&arrival=..&category=..&balance=..]
//   admin.php?action=remove_employee&idx=..
//   admin.php?action=touch_tables            the next poll answers "tabsync"
//   admin.php?action=trigger&file=zamestnanci|kategorie
//   admin.php?action=reset                   back to the seed, nothing stored

declare(strict_types=1);
require __DIR__ . '/lib.php';

function admin_json($value, int $status = 200): void
{
    http_response_code($status);
    header('Content-Type: application/json; charset=utf-8');
    header('Cache-Control: no-store');
    echo json_encode($value, JSON_UNESCAPED_UNICODE | JSON_PRETTY_PRINT), "\n";
}

function admin_fail(string $message): void
{
    admin_json(['error' => $message], 400);
}

$action = $_GET['action'] ?? '';
$db = kvweb_db();

switch ($action) {
    case 'events':
        $rows = $db->query('SELECT * FROM events ORDER BY id')->fetchAll();
        foreach ($rows as &$r) {
            foreach (['id', 'prikaz', 'ok'] as $k) {
                $r[$k] = (int)$r[$k];
            }
        }
        admin_json($rows);
        break;

    case 'requests':
        $st = $db->prepare('SELECT * FROM requests WHERE ? IS NULL OR prikaz = ? ORDER BY id');
        $prikaz = $_GET['prikaz'] ?? null;
        $st->execute([$prikaz, $prikaz]);
        $rows = $st->fetchAll();
        foreach ($rows as &$r) {
            $r['id'] = (int)$r['id'];
            // Answers travel in Windows-1250; JSON wants UTF-8.
            $r['answer'] = iconv('CP1250', 'UTF-8', $r['answer']);
        }
        admin_json($rows);
        break;

    case 'tables':
        kvweb_send_text(kvweb_table_reply());
        break;

    case 'add_employee':
        $idx = $_GET['idx'] ?? '';
        $chip = strtoupper($_GET['chip'] ?? '');
        $name = $_GET['name'] ?? '';
        if (!ctype_digit($idx) || !preg_match('/^[0-9A-F]{12}$/', $chip) || $name === '') {
            admin_fail('idx (number), chip (12 hex digits) and name are required');
            break;
        }
        $card = strtoupper($_GET['card'] ?? kvweb_card_of_chip($chip));
        $st = $db->prepare('INSERT OR REPLACE INTO employees (idx, chip, card, name, arrival, category, balance)
                            VALUES (?, ?, ?, ?, ?, ?, ?)');
        $st->execute([(int)$idx, $chip, $card, $name, $_GET['arrival'] ?? '0700',
            (int)($_GET['category'] ?? 1), (int)($_GET['balance'] ?? 0)]);
        admin_json(['tables_version' => kvweb_tables_changed()]);
        break;

    case 'remove_employee':
        $db->prepare('DELETE FROM employees WHERE idx = ?')->execute([(int)($_GET['idx'] ?? -1)]);
        admin_json(['tables_version' => kvweb_tables_changed()]);
        break;

    case 'touch_tables':
        admin_json(['tables_version' => kvweb_tables_changed()]);
        break;

    case 'trigger':
        $file = $_GET['file'] ?? '';
        if (!in_array($file, ['zamestnanci', 'kategorie'], true)) {
            admin_fail('file must be zamestnanci or kategorie');
            break;
        }
        $path = kvweb_drive_c() . $file;
        if (@file_put_contents($path, "zmena tabulek\r\n") === false) {
            admin_json(['error' => "cannot write $path"], 500);
            break;
        }
        admin_json(['created' => $path]);
        break;

    case 'reset':
        $db->exec('DROP TABLE employees; DROP TABLE categories; DROP TABLE events;
                   DROP TABLE requests; DROP TABLE meta');
        kvweb_create_schema($db);
        admin_json(['reset' => true]);
        break;

    default:
        admin_fail('unknown action');
}
