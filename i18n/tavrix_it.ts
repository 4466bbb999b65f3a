<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT" sourcelanguage="en">
<context>
    <name>Layouts</name>
    <message>
        <source>1 Screen</source>
        <extracomment>Layout tile name: a single full-size screen</extracomment>
        <translation>1 schermo</translation>
    </message>
    <message>
        <source>2 Side by Side</source>
        <extracomment>Layout tile name: two screens next to each other</extracomment>
        <translation>2 affiancati</translation>
    </message>
    <message>
        <source>2 Stacked</source>
        <extracomment>Layout tile name: two screens one above the other</extracomment>
        <translation>2 sovrapposti</translation>
    </message>
    <message>
        <source>3 — 2 Above</source>
        <extracomment>Layout tile name: three screens, two on the top row and one below</extracomment>
        <translation>3 — 2 sopra</translation>
    </message>
    <message>
        <source>3 — 1 Above</source>
        <extracomment>Layout tile name: three screens, one on the top row and two below</extracomment>
        <translation>3 — 1 sopra</translation>
    </message>
    <message>
        <source>3 Across</source>
        <extracomment>Layout tile name: three screens in one row</extracomment>
        <translation>3 in fila</translation>
    </message>
    <message>
        <source>4 Screens</source>
        <extracomment>Layout tile name: four screens in a 2 by 2 grid</extracomment>
        <translation>4 schermi</translation>
    </message>
</context>
</TS>
