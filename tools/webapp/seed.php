<?php
// The employees and categories a fresh database starts with.  Employee indexes run 1, 2, 3...
// so that a unit holding these chips in this order reports index n as kod n.

return [
    // index, chip (12 hex digits), name, arrival hhmm, category, balance in minutes
    'employees' => [
        [1, '0000A1B2C3D4', 'Jiří Dvořák', '0700', 1, 125],
        [2, '0000A1B2C3D5', 'Žofie Štěpánková', '0630', 1, -45],
        [3, '04F31A2B3C4D', 'Václav Růžička', '0800', 2, 6000],
        [4, '000099887766', 'Ludmila Čermáková', '715', 2, -1230],
        [5, '00005A5A5A5A', 'Ondřej Kůs', '1400', 3, 0],
    ],
    // number, kind, from (minutes), to (minutes), flags
    'categories' => [
        [1, 1, 420, 930, 0],
        [2, 1, 360, 870, 1],
        [3, 2, 840, 1320, 0],
    ],
];
