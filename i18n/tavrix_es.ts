<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES" sourcelanguage="en">
<context>
    <name>Layouts</name>
    <message>
        <source>1 Screen</source>
        <extracomment>Layout tile name: a single full-size screen</extracomment>
        <translation>1 pantalla</translation>
    </message>
    <message>
        <source>2 Side by Side</source>
        <extracomment>Layout tile name: two screens next to each other</extracomment>
        <translation>2 lado a lado</translation>
    </message>
    <message>
        <source>2 Stacked</source>
        <extracomment>Layout tile name: two screens one above the other</extracomment>
        <translation>2 apiladas</translation>
    </message>
    <message>
        <source>3 — 2 Above</source>
        <extracomment>Layout tile name: three screens, two on the top row and one below</extracomment>
        <translation>3 — 2 arriba</translation>
    </message>
    <message>
        <source>3 — 1 Above</source>
        <extracomment>Layout tile name: three screens, one on the top row and two below</extracomment>
        <translation>3 — 1 arriba</translation>
    </message>
    <message>
        <source>3 Across</source>
        <extracomment>Layout tile name: three screens in one row</extracomment>
        <translation>3 en fila</translation>
    </message>
    <message>
        <source>4 Screens</source>
        <extracomment>Layout tile name: four screens in a 2 by 2 grid</extracomment>
        <translation>4 pantallas</translation>
    </message>
</context>
</TS>
