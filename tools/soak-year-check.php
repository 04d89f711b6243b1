<?php
// The checks of tools/soak-year, on what the run left in its directory: the edges it recorded,
// the unit's logs (kvsim-NN-EDGE.log), the web application's records (events.json, its database),
// the bridge's log (kvbridge-all.log, oldest line first) and its samples, the status asked after
// New Year.  Prints a table per edge and the year's figures; exits 1 with the reasons when a
// check fails.
//
//   php tools/soak-year-check.php RUN-DIRECTORY ELAPSED-SECONDS

$run = $argv[1];
$elapsed = (int)($argv[2] ?? 0);
$tz = new DateTimeZone('Europe/Prague');
$broken = [];
$fail = function (string $edge, string $what) use (&$broken) { $broken[] = "$edge: $what"; };

// A local date and time read naively ("2027-10-31 02:30:00") has one or two instants in the hour
// that happens twice, none in the hour that is skipped: every instant it can be.
function instants(string $local, DateTimeZone $tz): array {
    if (!preg_match('/^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d/', $local)) return [];
    $naive = (new DateTime($local, new DateTimeZone('UTC')))->getTimestamp();
    $all = [];
    foreach ([3600, 7200] as $offset) {
        $t = (new DateTime('@' . ($naive - $offset)))->setTimezone($tz);
        if ($t->format('Y-m-d H:i:s') === substr($local, 0, 19)) $all[] = $naive - $offset;
    }
    return $all;
}
// How far apart two local times are at the least, in seconds; a time no clock shows is far.
function apart(string $a, string $b, DateTimeZone $tz): int {
    $best = PHP_INT_MAX;
    foreach (instants($a, $tz) as $x)
        foreach (instants($b, $tz) as $y) $best = min($best, abs($x - $y));
    return $best;
}
// The frame's bytes are counted from 0 here, its code first.
// The unit's time stamp: hour, minute, second, day, month, year - 2000 from byte $first.
function stamp(array $b, int $first): string {
    return sprintf('%04d-%02d-%02d %02d:%02d:%02d', 2000 + $b[$first + 5], $b[$first + 4],
                   $b[$first + 3], $b[$first], $b[$first + 1], $b[$first + 2]);
}
// The URL's "2028-1-1 0:0:3" as the stamp's text.
function urlDate(string $datum): string {
    if (!preg_match('/^(\d+)-(\d+)-(\d+) (\d+):(\d+):(\d+)$/', $datum, $m)) return $datum;
    return sprintf('%04d-%02d-%02d %02d:%02d:%02d', $m[1], $m[2], $m[3], $m[4], $m[5], $m[6]);
}

// The jumps of the clock: the bridge's log lines before each, the time before it and after it.
$jumps = array_map(fn($l) => array_map('intval', explode(' ', $l)),
                   file("$run/jumps", FILE_IGNORE_NEW_LINES) ?: []);
// A local time read at line $line of the bridge's log is right when it lies between the jump
// before the line and the next one; for a second after a jump a program may still read the time
// before it.
function datedRight(string $local, int $line, array $jumps, DateTimeZone $tz): bool {
    $k = -1;
    foreach ($jumps as $i => $j) if ($j[0] <= $line) $k = $i;
    $windows = [];
    for ($i = max(0, $k - 1); $i <= $k; $i++) {
        $end = isset($jumps[$i + 1]) ? $jumps[$i + 1][1] : PHP_INT_MAX - 10;
        $windows[] = [$jumps[$i][2] - 2, $end + 2];
    }
    foreach (instants($local, $tz) as $t)
        foreach ($windows as [$from, $to]) if ($t >= $from && $t <= $to) return true;
    return false;
}
// A time stamp the bridge gave at a moment the unit logged as $at: right when the two agree,
// or when one of them still read the time from before a jump that the other had read.
function stampRight(string $given, string $at, array $jumps, DateTimeZone $tz): bool {
    if (apart($given, $at, $tz) <= 3) return true;
    foreach ($jumps as [$line, $before, $after]) {
        $near = fn($local, $t) => min(array_map(fn($x) => abs($x - $t), instants($local, $tz) ?: [PHP_INT_MAX])) <= 3;
        if (($near($at, $before) && $near($given, $after)) || ($near($given, $before) && $near($at, $after)))
            return true;
    }
    return false;
}

// The employees as the unit shows their names: without diacritics, 15 places.
$db = new PDO("sqlite:$run/kvweb.sqlite");
$names = [];
foreach ($db->query('SELECT idx, name FROM employees') as $e)
    $names[(int)$e['idx']] = rtrim(substr(iconv('UTF-8', 'ASCII//TRANSLIT', $e['name']), 0, 15));
$events = json_decode((string)@file_get_contents("$run/events.json"), true) ?: [];
$log = file("$run/kvbridge-all.log", FILE_IGNORE_NEW_LINES) ?: [];

// Frames to the unit that carry the bridge's date and time at bytes 1 to 6, the weekday at 7: start of
// communication, clock, tables changed, statistics question, the download's begin and end.
$timed = [1, 2, 5, 7, 8, 11];
$rows = [];
foreach (file("$run/edges", FILE_IGNORE_NEW_LINES) as $line) {
    [$edge, $line0, $stored0, $expected0, $line1, $stored1, $expected1] = explode(' ', $line);
    $r = ['sent' => 0, 'answered' => 0, 'timed out' => 0, 'stored' => $stored1 - $stored0,
          'stored twice' => 0, 'invented' => 0, 'out of order' => 0,
          'answer wrong' => 0, 'stamps to unit' => 0, 'stamps wrong' => 0, 'failures shown' => 0,
          'failure notices' => 0, 'failures told' => 0, 'reminders early' => 0,
          'ends told' => 0, 'notices late' => 0, 'history lines' => 0, 'history misdated' => 0];
    // The unit's side.
    $sent = [];    // "index stamp" in the order the unit sent them
    $answered = [];
    foreach (glob("$run/kvsim-[0-9][0-9]-$edge.log") as $file) {
        $kod = [];
        $stampOf = [];
        foreach (file($file, FILE_IGNORE_NEW_LINES) as $l) {
            if (!preg_match('/^(\S+ \S+) (unit>pc|pc>unit|unit   ) (.*)$/', $l, $m)) continue;
            $at = substr($m[1], 0, 19);
            if (preg_match('/^FC(\d+) .*\| ([0-9A-F ]+)/', $m[3], $f)) {
                $hex = explode(' ', trim($f[2]));
                $b = array_map('hexdec', array_slice($hex, $m[2] === 'unit>pc' ? 1 : 3, 16));
                if (count($b) < 16) continue;
                if ($m[2] === 'unit>pc' && $b[0] == 2) {
                    // Its index at bytes 1 and 2, kod 3, the unit's stamp from 6.
                    $index = $b[1] * 256 + $b[2];
                    $key = "$index " . stamp($b, 6);
                    // A frame sent again is the same identification.
                    if (!in_array($key, $sent, true)) $sent[] = $key;
                    $kod[$index] = $b[3];
                    $stampOf[$index] = $key;
                } elseif ($m[2] === 'pc>unit' && in_array($b[0], $timed)) {
                    $r['stamps to unit']++;
                    $given = stamp($b, 1);
                    $date = DateTime::createFromFormat('!Y-m-d', substr($given, 0, 10));
                    $weekday = $date && $date->format('Y-m-d') === substr($given, 0, 10)
                                   ? (int)$date->format('N') : -1;
                    if ($weekday < 0 || !stampRight($given, $at, $jumps, $tz) || $b[7] != $weekday) {
                        $r['stamps wrong']++;
                        $fail($edge, "FC{$b[0]} gave the unit $given (weekday {$b[7]}) at $at: " .
                                     implode(' ', $hex));
                    }
                }
            } elseif (preg_match('/^\s*event #(\d+) answered: (?:name "(.*)"|OK, no name)/', $m[3], $a)) {
                $k = (int)$a[1];
                $r['answered']++;
                $answered[] = $stampOf[$k] ?? "$k ?";
                $want = $names[$kod[$k] ?? -1] ?? '?';
                if (($a[2] ?? '') !== $want) {
                    $r['answer wrong']++;
                    $fail($edge, "event #$k of " . basename($file) . " answered \"" .
                                 ($a[2] ?? '') . "\", its employee is \"$want\"");
                }
            } elseif (preg_match('/^\s*event #\d+ not answered in time/', $m[3])) {
                $r['timed out']++;
            }
        }
    }
    $r['sent'] = count($sent);
    // The web application's side, in the order it recorded them.
    $mine = array_slice($events, (int)$stored0, $stored1 - $stored0);
    $keys = array_map(fn($e) => $e['indexza'] . ' ' . urlDate((string)$e['datum']), $mine);
    foreach (array_count_values($keys) as $key => $n) {
        if ($n > 1) {
            $r['stored twice']++;
            $fail($edge, "recorded $n times: $key");
        }
    }
    foreach ($mine as $i => $e) {
        if (!in_array($keys[$i], $sent, true)) {
            $r['invented']++;
            // The date in the URL is not the one the unit stamped, or no such identification.
            // A date in the URL other than the unit's stamp, or no such identification.
            $fail($edge, "recorded but not sent so by the unit: index {$e['indexza']}, datum " .
                         "\"{$e['datum']}\"");
        }
    }
    foreach ($answered as $key) {
        if (!in_array($key, $keys, true)) $fail($edge, "answered at the unit, never recorded: $key");
    }
    $order = array_values(array_filter($sent, fn($s) => in_array($s, $keys, true)));
    $seen = array_values(array_unique(array_filter($keys, fn($k) => in_array($k, $sent, true))));
    if ($order !== $seen) {
        $r['out of order'] = 1;
        $fail($edge, 'recorded in another order than sent: ' . implode(', ', $seen));
    }
    // The bridge's side: its log lines of the edge.
    $lines = array_slice($log, (int)$line0, $line1 - $line0);
    $running = true;
    $toldAt = null;
    $episodeOpen = false;
    foreach ($lines as $n => $l) {
        if (preg_match('/communication: (\S+)/', $l, $m)) $running = $m[1] === 'running';
        if (preg_match('/^\S+ \S+ warning +kvbridge\.(sync|link)|frame left unanswered/', $l))
            $r['failures shown']++;
        if (str_contains($l, 'Kordavo – porucha komunikace')) {
            $r['failure notices']++;
            $at = substr($l, 0, 19);
            if ($running) {
                $r['notices late']++;
                $fail($edge, "a failure told after it had ended: $l");
            }
            if (!$episodeOpen) {
                $r['failures told']++;
                $episodeOpen = true;
            } elseif ($toldAt !== null && apart($toldAt, $at, $tz) < 3600 - 5) {
                $r['reminders early']++;
                $fail($edge, "a reminder $at, the last notice $toldAt");
            }
            $toldAt = $at;
        }
        // The end of a failure is told under the title of what came back.
        if (str_contains($l, 'Kordavo – komunikace opět běží') || str_contains($l, 'Kordavo – port je zpět')
            || str_contains($l, 'Kordavo – server opět odpovídá') || str_contains($l, 'Kordavo – RJ opět odpovídá')) {
            $r['ends told']++;
            $episodeOpen = false;
        }
        if (str_contains($l, 'Historie: ')) {
            $r['history lines']++;
            if (!datedRight(substr($l, 0, 19), (int)$line0 + $n, $jumps, $tz)) {
                $r['history misdated']++;
                $fail($edge, "a history line dated other than the bridge's clock showed: $l");
            }
        }
    }
    // The unit is switched off at the end of an edge, an identification perhaps under way.
    if ($r['sent'] > $r['answered'] + $r['timed out'] + 1)
        $fail($edge, "{$r['sent']} identifications sent, {$r['answered']} answered, {$r['timed out']} timed out");
    if ($r['timed out'] > $r['failures shown'])
        $fail($edge, "{$r['timed out']} identifications not answered, {$r['failures shown']} failures shown");
    if ($r['failures told'] > 0 && $r['ends told'] < $r['failures told'])
        $fail($edge, "{$r['failures told']} failures told, {$r['ends told']} ends told");
    if ($episodeOpen) $fail($edge, 'a failure told whose end was never told');
    if ($r['ends told'] > $r['failures told'] + ($edge === 'flapping' ? 1 : 0))
        $fail($edge, "{$r['ends told']} ends told of {$r['failures told']} failures told");
    if ($expected1 - $expected0 > $r['answered'])
        $fail($edge, ($expected1 - $expected0) . " identifications expected, {$r['answered']} answered");
    $rows[$edge] = $r;
}

// The table download across midnight: asked for on one day, sent on the next, whole.
$download = '';
foreach ($log as $l)
    if (str_contains($l, 'request tables') && str_starts_with($l, '2027-04-30 ')) $download = 'asked ' . substr($l, 0, 19) . ', ';
foreach (glob("$run/kvsim-[0-9][0-9]-month-end.log") as $file) {
    foreach (file($file, FILE_IGNORE_NEW_LINES) as $l) {
        if (preg_match('/^(\S+ \S+) pc>unit FC(2|5) .*\| F0 F0 A5 (.*)/', $l, $m))
            $download .= ($m[2] == 2 ? 'begun ' : ', ended ') . substr($m[1], 0, 19);
        if (preg_match('/^(\S+ \S+) pc>unit FC[34] /', $l)) $download .= '.';
        if (preg_match('/unit    tables stored: (\d+) section-1/', $l, $m)) $download .= ", $m[1] workers";
    }
}
if (!preg_match('/^asked 2027-04-30 .*begun 2027-05-01 [^,]*, ended 2027-05-01 .*, 5 workers$/', $download))
    $fail('month-end', "the table download: \"$download\", not one across midnight with the 5 workers");

// After New Year: the status' last delivery and last identification.
$status = json_decode((string)@file_get_contents("$run/status.json"), true) ?: [];
$lastDelivery = (string)($status['lastDelivery'] ?? '');
$lastIdentification = (string)($status['lastIdentification'] ?? '');
$lastSent = '';
foreach ($events as $e) if (str_starts_with((string)$e['datum'], '2028-1-1 ')) $lastSent = urlDate($e['datum']);
if (!str_starts_with($lastDelivery, '2028-01-01 00:0') ||
    apart($lastDelivery, $lastSent ?: '2000-01-01 00:00:00', $tz) > 5)
    $fail('new-year', "the status' last delivery is \"$lastDelivery\", the last identification $lastSent");
$notes = implode(' | ', $status['notes'] ?? []);
if (!preg_match('/Poslední identifikace: (\d\d:\d\d:\d\d) /', $notes, $m) ||
    apart("2028-01-01 $m[1]", $lastSent ?: '2000-01-01 00:00:00', $tz) > 5 ||
    str_contains($notes, '31.12.2027'))
    $fail('new-year', "the status after New Year says \"$notes\", the last identification $lastSent");

// Memory and descriptors across the year, the log's bound.
$samples = array_map(fn($l) => explode(' ', $l), file("$run/samples", FILE_IGNORE_NEW_LINES) ?: []);
require __DIR__ . '/soak-descriptors.php';
$fds = soakDescriptorGrowth(array_map(fn($s) => array_map('intval', array_slice($s, 0, 4)), $samples));
$byEdge = [];
foreach ($samples as $s) $byEdge[$s[4]][] = [(int)$s[1], (int)$s[2]];
$firstEdge = array_key_first($byEdge);
$lastEdge = array_key_last($byEdge);
$rss0 = max(array_column($byEdge[$firstEdge] ?? [[0, 0]], 0)) / 1024;
$rss1 = max(array_column($byEdge[$lastEdge] ?? [[0, 0]], 0)) / 1024;
if ($rss1 > $rss0 * 1.10 + 5) $fail('year', sprintf('resident memory grew from %.1f to %.1f MB', $rss0, $rss1));
if ($fds['grew']) $fail('year', "open descriptors at quiet moments grew from {$fds['fd0']} to {$fds['fd1']}");
$logFiles = glob("$run/work/kvbridge.log*");
$logBytes = array_sum(array_map('filesize', $logFiles));
foreach ($logFiles as $f) {
    if (!preg_match('/kvbridge\.log(\.[1-5])?$/', $f)) $fail('year', 'a log file beyond the rotation: ' . basename($f));
    elseif (filesize($f) > 1024 * 1024 + 4096) $fail('year', basename($f) . ' is ' . filesize($f) . ' bytes');
}

// The table: a column per edge.
printf('%-18s', '');
foreach (array_keys($rows) as $edge) printf('%11s', $edge);
printf("%11s\n", 'year');
foreach (array_keys(reset($rows)) as $label) {
    printf('%-18s', $label);
    foreach ($rows as $r) printf('%11d', $r[$label]);
    printf("%11d\n", array_sum(array_column($rows, $label)));
}
printf('%-18s', 'RSS max MB');
foreach (array_keys($rows) as $edge) printf('%11.1f', max(array_column($byEdge[$edge] ?? [[0, 0]], 0)) / 1024);
printf("\n%-18s", 'fds max');
foreach (array_keys($rows) as $edge) printf('%11d', max(array_column($byEdge[$edge] ?? [[0, 0]], 1)));
printf("\n");
printf("table download     %s\n", $download);
printf("after New Year     last delivery %s; %s\n", $lastDelivery, $notes);
printf("memory             %.1f MB at the start, %.1f MB at the end; quiet descriptors %d first, %d last\n",
       $rss0, $rss1, $fds['fd0'], $fds['fd1']);
printf("log                %d files, %d bytes (bound: 6 files of 1 MiB)\n", count($logFiles), $logBytes);
printf("a year of edges in %d s\n", $elapsed);
foreach ($broken as $b) echo "CHECK FAILED: $b\n";
if (!$broken) echo "all checks held\n";
exit($broken ? 1 : 0);
