<?php
// The recalculation the operator asks for; the stand-in only records the request.

declare(strict_types=1);
require __DIR__ . '/lib.php';

$firma = preg_replace('/[^0-9]/', '', (string)($_GET['firma'] ?? ''));
$db = kvweb_db();
$db->beginTransaction();
$answer = kvweb_padded([kvweb_cp1250("Přepočet docházky proveden, firma $firma")]);
kvweb_log_request('gcalc.php', $answer);
$db->commit();
kvweb_send_text($answer);
