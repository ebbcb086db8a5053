#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the sample experiment catalogue under data/: experiment.txt in cp1251, descr.rtf and report.rtf."""
import os
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'data')


def rtf_text(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '\\{}':
            out.append('\\' + ch)
        elif ch == '\t':
            out.append('\\tab ')
        elif code < 128:
            out.append(ch)
        else:
            out.append('\\u%d?' % (code if code < 32768 else code - 65536))
    return ''.join(out)


class Rtf:
    def __init__(self):
        self.parts = []

    def para(self, text, size=12, bold=False, italic=False, align='l', space_after=6, indent=0, colour=0):
        fmt = '\\pard\\q%s\\sa%d' % (align, space_after * 20)
        if indent:
            # A hanging indent: the number or bullet stands out, the text aligns at the tab stop.
            fmt += '\\fi-%d\\li%d\\tx%d' % (indent * 20, indent * 2 * 20, indent * 2 * 20)
        run = '\\plain\\f0\\fs%d%s%s%s ' % (size * 2, '\\b' if bold else '', '\\i' if italic else '',
                                            '\\cf%d' % colour if colour else '')
        self.parts.append('%s{%s%s}\\par\r\n' % (fmt, run, rtf_text(text)))

    def title(self, text):
        self.para(text, size=16, bold=True, align='c', space_after=10, colour=1)

    def heading(self, text):
        self.para(text, size=13, bold=True, space_after=4, colour=1)

    def body(self, text):
        self.para(text, size=11, align='l')

    def steps(self, items):
        for number, item in enumerate(items, 1):
            self.para('%d.\t%s' % (number, item), size=11, indent=12)

    def bullets(self, items):
        for item in items:
            self.para('\u2022\t%s' % item, size=11, indent=12)

    def table(self, header, rows, widths):
        for row_index, row in enumerate([header] + rows):
            out = '\\trowd\\trgaph70'
            right = 0
            for width in widths:
                right += width * 20
                out += ('\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10'
                        '\\clbrdrr\\brdrs\\brdrw10\\cellx%d' % right)
            out += '\r\n'
            for cell in row:
                bold = '\\b' if row_index == 0 else ''
                out += '\\pard\\intbl\\qc{\\plain\\f0\\fs22%s %s}\\cell\r\n' % (bold, rtf_text(cell))
            out += '\\row\r\n'
            self.parts.append(out)
        self.parts.append('\\pard\\sa120\\par\r\n')

    def save(self, path):
        head = ('{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1{\\fonttbl{\\f0\\fswiss\\fcharset204 Tahoma;}}\r\n'
                '{\\colortbl;\\red31\\green79\\blue154;}\r\n\\viewkind4\r\n')
        with open(path, 'wb') as f:
            f.write((head + ''.join(self.parts) + '}\r\n').encode('ascii'))


def experiment(path, keys, descr, report):
    folder = os.path.join(ROOT, *path.split('/'))
    os.makedirs(folder, exist_ok=True)
    lines = ['%s=%s' % (k, v) for k, v in keys]
    with open(os.path.join(folder, 'experiment.txt'), 'wb') as f:
        f.write(('\r\n'.join(lines) + '\r\n').encode('cp1251'))
    d = Rtf()
    d.title(path.split('/')[-1])
    d.heading('Цель работы')
    d.body(descr['goal'])
    d.heading('Оборудование')
    d.bullets(descr['equipment'])
    d.heading('Ход работы')
    d.steps(descr['steps'])
    if descr.get('note'):
        d.heading('Обратите внимание')
        d.para(descr['note'], italic=True, align='l')
    d.save(os.path.join(folder, 'descr.rtf'))
    r = Rtf()
    r.title('Отчёт о лабораторной работе')
    r.para('«%s»' % path.split('/')[-1], size=13, bold=True, align='c', space_after=12)
    r.para('Ученик(ца): ____________________   Класс: ______   Дата: ___________', size=12, space_after=12)
    r.heading('Результаты измерений')
    r.table(report['header'], [[''] * len(report['header']) for _ in range(report.get('rows', 5))],
            report['widths'])
    r.heading('Вывод')
    r.body(report['question'])
    for _ in range(3):
        r.para('_' * 70, size=12)
    r.save(os.path.join(folder, 'report.rtf'))


# ---------------------------------------------------------------------------------------------------------------
# A description as Word saves it: the text in the document's code page as \'hh escapes, fonts with
# \fcharset204, sub- and superscripts, a formula object whose picture is a Windows metafile.

def word_text(text):
    """Text as Word writes it: cp1251 bytes as \'hh, other characters as \\uN with a '?' fallback."""
    out = []
    for ch in text:
        if ch in '\\{}':
            out.append('\\' + ch)
        elif ord(ch) < 128:
            out.append(ch)
        else:
            try:
                out.append(''.join("\\'%02x" % b for b in ch.encode('cp1251')))
            except UnicodeEncodeError:
                out.append("\\u%d\\'3f" % ord(ch))
    return ''.join(out)


def formula_wmf(parts, width, height):
    """A WMF as an equation editor draws it: text pieces (x, y, text, size, italic) on a window of
    width × height units (1/1440 inch), baseline-aligned, in Times New Roman."""
    import struct
    records = []

    def rec(function, data=b''):
        records.append(struct.pack('<IH', 3 + len(data) // 2, function) + data)

    def words(*values):
        return struct.pack('<' + 'h' * len(values), *values)

    rec(0x020B, words(0, 0))                     # SetWindowOrg
    rec(0x020C, words(height, width))            # SetWindowExt
    rec(0x0102, words(1))                        # SetBkMode: transparent
    rec(0x0209, struct.pack('<I', 0))            # SetTextColor: black
    rec(0x012E, words(24))                       # SetTextAlign: baseline
    fonts = {}
    for x, y, text, size, italic in parts:
        key = (size, italic)
        if key not in fonts:
            face = b'Times New Roman\0'
            face += b'\0' * (len(face) % 2)
            rec(0x02FB, words(-size, 0, 0, 0, 400) + bytes([1 if italic else 0, 0, 0, 204, 0, 0, 0, 18]) + face)
            fonts[key] = len(fonts)
        rec(0x012D, words(fonts[key]))           # SelectObject
        data = text.encode('cp1251')
        count = len(data)
        data += b'\0' * (count % 2)
        rec(0x0521, words(count) + data + words(y, x))   # TextOut
    rec(0x0000)
    body = b''.join(records)
    largest = max(len(r) // 2 for r in records)
    return struct.pack('<HHHIHIH', 1, 9, 0x0300, 9 + len(body) // 2, len(fonts), largest, 0) + body


def word_description(folder, title, paragraphs, formula):
    """paragraphs: lists of runs (text, kind) with kind '', 'b', 'sub' or 'super'; None stands for the formula."""
    wmf, width, height = formula
    head = ('{\\rtf1\\adeflang1025\\ansi\\ansicpg1251\\uc1\\adeff0\\deff0\\stshfdbch0\\stshfloch0\\stshfhich0'
            '\\stshfbi0\\deflang1049\\deflangfe1049\\themelang1049\r\n'
            '{\\fonttbl{\\f0\\froman\\fcharset204\\fprq2{\\*\\panose 02020603050405020304}Times New Roman;}'
            '{\\f1\\fswiss\\fcharset204\\fprq2{\\*\\panose 020b0604020202020204}Arial;}'
            '{\\f2\\fswiss\\fcharset0\\fprq2 Arial;}}\r\n'
            '{\\colortbl;\\red0\\green0\\blue0;\\red31\\green79\\blue154;}\r\n'
            '{\\stylesheet{\\ql \\li0\\ri0\\widctlpar\\wrapdefault\\aspalpha\\aspnum\\faauto\\adjustright\\rin0'
            '\\lin0\\itap0 \\rtlch\\fcs1 \\af0\\afs24\\alang1025 \\ltrch\\fcs0 \\fs24\\lang1049\\langfe1049'
            '\\cgrid\\langnp1049\\langfenp1049 \\snext0 \\sqformat \\spriority0 Normal;}'
            '{\\*\\cs10 \\additive \\ssemihidden Default Paragraph Font;}}\r\n'
            '{\\*\\rsidtbl \\rsid1442114\\rsid9844211}'
            '{\\*\\generator Microsoft Word 11.0.8169;}'
            '{\\info{\\title ' + word_text(title) + '}{\\author ' + word_text('Учитель химии') + '}'
            '{\\creatim\\yr2024\\mo9\\dy2\\hr10\\min5}{\\version1}{\\edmins12}{\\nofpages1}}\r\n'
            '\\paperw11906\\paperh16838\\margl1701\\margr850\\margt1134\\margb1134 \\deftab708'
            '\\widowctrl\\ftnbj\\aenddoc\\hyphhotz425\\noxlattoyen\\expshrtn\\noultrlspc\\dntblnsbdb\\nospaceforul'
            '\\formshade\\horzdoc\\dgmargin\\dghspace180\\dgvspace180\\dghorigin1701\\dgvorigin1134\\dghshow1'
            '\\dgvshow1\\jexpand\\viewkind1\\viewscale100\\pgbrdrhead\\pgbrdrfoot\\splytwnine\\ftnlytwnine'
            '\\htmautsp\\nolnhtadjtbl\\useltbaln\\alntblind\\lytcalctblwd\\lyttblrtgr\\lnbrkrule\\nobrkwrptbl'
            '\\snaptogridincell\\allowfieldendsel\\wrppunct\\asianbrkrule\\rsidroot9844211 \\fet0'
            '\\sectd \\linex0\\headery708\\footery708\\colsx708\\endnhere\\sectlinegrid360\\sectdefaultcl'
            '\\sftnbj \r\n')
    body = []
    plain = ('\\pard\\plain \\ltrpar\\s0\\ql \\fi567\\li0\\ri0\\sa120\\widctlpar\\wrapdefault\\aspalpha\\aspnum'
             '\\faauto\\adjustright\\rin0\\lin0\\itap0 \\rtlch\\fcs1 \\af0\\afs24\\alang1025 \\ltrch\\fcs0 '
             '\\fs24\\lang1049\\langfe1049\\cgrid\\langnp1049\\langfenp1049 ')
    body.append('\\pard\\plain \\ltrpar\\qc \\li0\\ri0\\sa240\\widctlpar\\wrapdefault\\aspalpha\\aspnum\\faauto'
                '\\adjustright\\rin0\\lin0\\itap0 \\rtlch\\fcs1 \\ab\\af1\\afs32 \\ltrch\\fcs0 \\b\\f1\\fs32'
                '\\cf2\\insrsid9844211 ' + word_text(title) + '\r\n\\par ')
    for runs in paragraphs:
        if runs is None:
            body.append('\\pard\\plain \\ltrpar\\qc \\li0\\ri0\\sa120\\widctlpar\\wrapdefault\\aspalpha\\aspnum'
                        '\\faauto\\adjustright\\rin0\\lin0\\itap0 \\rtlch\\fcs1 \\af0\\afs24 \\ltrch\\fcs0 '
                        '\\fs24\\insrsid1442114 {\\object\\objemb\\objw%d\\objh%d{\\*\\objclass Equation.3}'
                        '{\\*\\objdata 01050000020000000b0000004571756174696f6e2e3300000000000000000000}'
                        '{\\result {\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 \\insrsid1442114 {\\pict\\wmetafile8'
                        '\\picw%d\\pich%d\\picwgoal%d\\pichgoal%d \r\n' % (width, height, width * 2540 // 1440,
                                                                          height * 2540 // 1440, width, height))
            hexed = wmf.hex()
            body.append('\r\n'.join(hexed[i:i + 128] for i in range(0, len(hexed), 128)))
            body.append('}}}}\r\n\\par ')
            continue
        if runs[0][1] == 'h':
            body.append('\\pard\\plain \\ltrpar\\s0\\ql \\li0\\ri0\\sb120\\sa60\\keepn\\widctlpar\\wrapdefault'
                        '\\aspalpha\\aspnum\\faauto\\adjustright\\rin0\\lin0\\itap0 \\rtlch\\fcs1 \\ab\\af1'
                        '\\afs26 \\ltrch\\fcs0 \\b\\f1\\fs26\\cf2\\insrsid9844211 ' + word_text(runs[0][0]) +
                        '\r\n\\par ')
            continue
        body.append(plain)
        for text, kind in runs:
            words = {'': '', 'b': '\\b', 'sub': '\\sub', 'super': '\\super'}[kind]
            body.append('{\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 %s\\insrsid9844211 %s}' % (words, word_text(text)))
        body.append('\r\n\\par ')
    with open(os.path.join(folder, 'descr.rtf'), 'wb') as f:
        f.write((head + ''.join(body) + '}\r\n').encode('ascii'))


# Advance widths of Times New Roman in thousandths of its size, for the characters the formulas use.
TIMES = {'Q': 722, ' ': 250, '=': 564, 'c': 444, '\u00b7': 250, 'm': 778, '(': 333, ')': 333, 'T': 611,
         '1': 500, '2': 500, '\u2013': 500}


def formula(pieces, size=280):
    """Lays out (text, kind) pieces on one baseline: kind 'i' italic, 'sub' a smaller lowered index."""
    parts = []
    x = 60
    baseline = size
    for text, kind in pieces:
        piece_size = size * 6 // 10 if kind == 'sub' else size
        y = baseline + (size // 5 if kind == 'sub' else 0)
        # Each piece stands at its own place, spaces taken as distance (as equation editors draw them).
        lead = len(text) - len(text.lstrip(' '))
        x += TIMES[' '] * lead * piece_size // 1000
        if text.strip(' '):
            parts.append((x, y, text.strip(' '), piece_size, kind == 'i'))
        x += sum(TIMES[ch] for ch in text[lead:]) * piece_size // 1000
    width, height = x + 60, baseline + size // 2
    return formula_wmf(parts, width, height), width, height


def main():
    experiment('Физика/Тепловые явления/Нагревание воды', [
        ('SensorName', 'T101'), ('Freq', '100000'), ('Average', '10'), ('FormatY', '0.0'), ('FormatX', '0'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '300'), ('IncX', '30'), ('CaptionY', 'T, °C'),
        ('MinY', '0'), ('MaxY', '100'), ('IncY', '10'), ('AutoSize', '1'),
        ('Fit', 'Line'),
    ], {
        'goal': 'Исследовать, как меняется температура воды при нагревании, и построить график зависимости '
                'температуры от времени.',
        'equipment': ['датчик температуры T101', 'химический стакан на 250 мл', 'электрическая плитка',
                      'штатив с лапкой', 'вода комнатной температуры'],
        'steps': ['Налейте в стакан 150 мл воды и закрепите датчик в штативе так, чтобы он не касался дна.',
                  'Нажмите «Пуск» и убедитесь, что на графике появилась температура воды.',
                  'Включите плитку и наблюдайте за графиком в течение 5 минут.',
                  'Отметьте точкой момент, когда на дне появились первые пузырьки.',
                  'Нажмите «Стоп», поставьте маркеры на начало и конец участка нагревания и запишите значения в отчёт.'],
        'note': 'Не касайтесь горячего стакана руками и не оставляйте включённую плитку без присмотра.',
    }, {'header': ['Время t, с', 'Температура T, °C', 'Изменение ΔT, °C'], 'widths': [130, 150, 150],
        'question': 'Опишите, как менялась скорость нагревания воды со временем, и объясните почему.'})

    experiment('Физика/Тепловые явления/Остывание воды в разных сосудах', [
        ('SensorName', 'T102'), ('Freq', '100000'), ('Average', '10'), ('FormatY', '0.0'), ('FormatX', '0'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '600'), ('IncX', '60'), ('CaptionY', 'T, °C'),
        ('MinY', '20'), ('MaxY', '80'), ('IncY', '5'), ('TwiceMarker', '1'), ('SeriesCount', '2'),
        ('Fit', 'ExpApproach'),
    ], {
        'goal': 'Сравнить, как быстро остывает горячая вода в металлическом и в пенопластовом стакане.',
        'equipment': ['датчик температуры T102', 'металлический стакан', 'пенопластовый стакан',
                      'горячая вода (около 70 °C)'],
        'steps': ['Налейте горячую воду в металлический стакан и опустите в неё датчик.',
                  'Нажмите «Пуск» и измеряйте температуру 10 минут, затем нажмите «Стоп».',
                  'Повторите опыт с пенопластовым стаканом: вторая кривая появится на том же графике синим цветом.',
                  'Поставьте два маркера (второй — щелчком с клавишей Ctrl) и сравните, на сколько градусов '
                  'остыла вода за одно и то же время.'],
    }, {'header': ['Сосуд', 'T в начале, °C', 'T через 10 мин, °C', 'ΔT, °C'], 'widths': [120, 110, 130, 90],
        'rows': 2, 'question': 'В каком сосуде вода остывает медленнее? Где применяют это свойство?'})

    experiment('Физика/Оптика/Освещённость и расстояние до лампы', [
        ('SensorName', 'L301'), ('Freq', '50000'), ('Average', '4'), ('FormatY', '0'), ('FormatX', '0'),
        ('Mode', 'Events'), ('EntryCaption', 'r, см'), ('EntryFormat', '0'), ('EntryStep', '10'),
        ('CaptionX', 'r, см'), ('MinX', '0'), ('MaxX', '100'), ('IncX', '10'), ('CaptionY', 'E, лк'),
        ('MinY', '0'), ('MaxY', '1000'), ('IncY', '100'), ('TwiceMarker', '1'),
        ('Fit', 'Power'),
    ], {
        'goal': 'Установить, как освещённость поверхности зависит от расстояния до источника света.',
        'equipment': ['датчик освещённости L301', 'настольная лампа', 'линейка длиной 1 м'],
        'steps': ['Положите датчик на стол под лампой на расстоянии 20 см.',
                  'Нажмите «Пуск»: на панели инструментов видна освещённость, которую показывает датчик.',
                  'Нажмите «Сохранить точку» (или Enter) и введите расстояние до лампы в сантиметрах: '
                  'на графике появится точка — средняя освещённость за последнюю секунду.',
                  'Отодвиньте датчик ещё на 10 см и снова сохраните точку. Продолжайте до 80 см.',
                  'Нажмите «Стоп» и выберите «Анализ → Степенная»: показатель степени b покажет, '
                  'как освещённость зависит от расстояния.'],
        'note': 'В демонстрационном режиме лампа сама отодвигается на 10 см после каждой сохранённой точки.',
    }, {'header': ['Расстояние r, см', 'Освещённость E, лк', 'E·r², лк·м²'], 'widths': [140, 150, 140],
        'question': 'Во сколько раз уменьшается освещённость при увеличении расстояния вдвое?'})

    experiment('Физика/Электричество/Цепи постоянного тока/Зарядка конденсатора', [
        ('SensorName', 'V501'), ('Freq', '10000'), ('Average', '5'), ('FormatY', '0.00'), ('FormatX', '0.0'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '20'), ('IncX', '2'), ('CaptionY', 'U, В'),
        ('MinY', '0'), ('MaxY', '5,0'), ('IncY', '0,5'), ('TwiceMarker', '1'),
        ('Fit', 'RiseToLimit'),
    ], {
        'goal': 'Пронаблюдать, как растёт напряжение на конденсаторе при его зарядке через резистор.',
        'equipment': ['датчик напряжения V501', 'конденсатор 1000 мкФ', 'резистор 3 кОм',
                      'батарейка 4,5 В', 'ключ и соединительные провода'],
        'steps': ['Соберите цепь из батарейки, ключа, резистора и конденсатора; подключите датчик к конденсатору.',
                  'Разрядите конденсатор, замкнув его выводы проводником.',
                  'Нажмите «Пуск» и замкните ключ.',
                  'Через 20 секунд нажмите «Стоп» и найдите время, за которое напряжение достигло 63 % от '
                  'напряжения батарейки.'],
        'note': 'Соблюдайте полярность электролитического конденсатора.',
    }, {'header': ['t, с', 'U, В', 'U / U₀'], 'widths': [120, 120, 120],
        'question': 'Почему напряжение на конденсаторе растёт всё медленнее? Сравните найденное время с '
                    'произведением R·C.'})

    experiment('Физика/Звук/Звуковые колебания камертона', [
        ('SensorName', 'C101'), ('Freq', '1000'), ('Average', '1'), ('FormatY', '0.000'), ('FormatX', '0.000'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '2'), ('IncX', '0,2'), ('CaptionY', 'Сигнал микрофона'),
        ('MinY', '-1'), ('MaxY', '1'), ('IncY', '0,25'), ('YOffset', '0.5'), ('TwiceMarker', '1'),
        ('Fit', 'Sine'), ('Duration', '3'), ('TriggerLevel', '0,2'), ('TriggerSlope', 'up'), ('PreTrigger', '0,2'),
    ], {
        'goal': 'Увидеть звуковые колебания на графике и определить их период.',
        'equipment': ['звуковой датчик C101', 'камертон с резонаторным ящиком', 'резиновый молоточек'],
        'steps': ['Поставьте датчик на расстоянии 10 см от резонаторного ящика.',
                  'Нажмите «Пуск» и ударьте молоточком по камертону: запись начнётся от удара (с 0,2 с '
                  'до него) и закончится сама через 3 секунды.',
                  'Поставьте маркеры на две соседние вершины и определите период колебаний.'],
    }, {'header': ['Число колебаний N', 'Время t, с', 'Период T, с', 'Частота ν, Гц'], 'widths': [130, 100, 100, 110],
        'rows': 3, 'question': 'Как меняется громкость (размах колебаний) со временем и почему?'})

    experiment('Биология/Частота пульса человека', [
        ('SensorName', 'M401'), ('Freq', '10000'), ('Average', '1'), ('FormatY', '0'), ('FormatX', '0.0'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '30'), ('IncX', '5'), ('CaptionY', 'Пульсовая волна'),
        ('MinY', '0'), ('MaxY', '1024'), ('IncY', '128'),
    ], {
        'goal': 'Измерить частоту пульса в покое и после физической нагрузки.',
        'equipment': ['датчик пульса M401 (клипса на палец)', 'секундомер'],
        'steps': ['Наденьте клипсу датчика на указательный палец и сядьте спокойно.',
                  'Нажмите «Пуск»: на верхнем графике появится пульсовая волна, на нижнем — частота пульса.',
                  'Через 30 секунд нажмите «Стоп» и запишите частоту пульса в покое.',
                  'Сделайте 20 приседаний и сразу повторите измерение.'],
        'note': 'Во время измерения не двигайте рукой: движение искажает пульсовую волну.',
    }, {'header': ['Состояние', 'Частота пульса, уд/мин'], 'widths': [200, 200], 'rows': 3,
        'question': 'Почему после нагрузки пульс учащается? Через сколько минут он возвращается к норме?'})

    experiment('Биология/Рост проростков фасоли', [
        ('SensorName', 'NO'), ('CaptionX', 'Сутки'), ('MinX', '0'), ('MaxX', '14'), ('IncX', '1'),
        ('CaptionY', 'Длина, мм'), ('MinY', '0'), ('MaxY', '150'), ('IncY', '10'),
    ], {
        'goal': 'Проследить за ростом проростков фасоли в течение двух недель.',
        'equipment': ['семена фасоли', 'блюдце и влажная салфетка', 'линейка'],
        'steps': ['Замочите семена на сутки и разложите их на влажной салфетке.',
                  'Каждый день в одно и то же время измеряйте длину проростков линейкой.',
                  'Записывайте результаты в таблицу отчёта.'],
        'note': 'Эксперимент проводится без датчика: результаты записываются в отчёт.',
    }, {'header': ['День', 'Длина, мм', 'Наблюдения'], 'widths': [80, 110, 240], 'rows': 7,
        'question': 'В какие дни рост был самым быстрым? От чего это может зависеть?'})

    experiment('Химия/Растворение нитрата аммония', [
        ('SensorName', 'T103'), ('Freq', '100000'), ('Average', '5'), ('FormatY', '0.0'), ('FormatX', '0'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '180'), ('IncX', '20'), ('CaptionY', 'T, °C'),
        ('MinY', '0'), ('MaxY', '40'), ('IncY', '5'), ('YOffset', '0,6'),
    ], {
        'goal': 'Определить, выделяется или поглощается теплота при растворении нитрата аммония в воде.',
        'equipment': ['датчик температуры T103', 'стакан с 100 мл воды', 'нитрат аммония (10 г)', 'стеклянная палочка'],
        'steps': ['Опустите датчик в воду и нажмите «Пуск».',
                  'Через 20 секунд высыпьте соль в воду и перемешайте палочкой; отметьте точку «соль».',
                  'Наблюдайте за температурой 3 минуты, затем нажмите «Стоп».'],
        'note': 'Работайте в защитных очках; не пробуйте вещества на вкус.',
    }, {'header': ['T до растворения, °C', 'Наименьшая T, °C', 'ΔT, °C'], 'widths': [150, 150, 110], 'rows': 2,
        'question': 'Экзо- или эндотермический это процесс? Где используют такие «холодильные» смеси?'})

    experiment('Химия/Нейтрализация кислоты щёлочью', [
        ('SensorName', 'T101'), ('Freq', '100000'), ('Average', '10'), ('FormatY', '0.0'), ('FormatX', '0'),
        ('CaptionX', 't, с'), ('MinX', '0'), ('MaxX', '120'), ('IncX', '10'), ('CaptionY', 'T, °C'),
        ('MinY', '15'), ('MaxY', '45'), ('IncY', '5'), ('AutoSize', '1'), ('SeriesCount', '2'),
    ], {
        'goal': 'Измерить тепловой эффект реакции нейтрализации соляной кислоты раствором гидроксида натрия.',
        'equipment': ['датчик температуры T101', 'растворы HCl и NaOH (1 моль/л) по 50 мл', 'пенопластовый стакан'],
        'steps': ['Налейте в стакан 50 мл кислоты, опустите датчик и нажмите «Пуск».',
                  'Через 10 секунд быстро прилейте 50 мл щёлочи и перемешайте.',
                  'Когда температура перестанет расти, нажмите «Стоп».',
                  'Повторите опыт с вдвое разбавленными растворами: вторая кривая появится рядом с первой.'],
        'note': 'Кислоты и щёлочи опасны для кожи и глаз: работайте в очках и перчатках.',
    }, {'header': ['Опыт', 'T₀, °C', 'T наибольшая, °C', 'ΔT, °C'], 'widths': [90, 100, 140, 100], 'rows': 2,
        'question': 'Во сколько раз изменился тепловой эффект при разбавлении растворов и почему?'})
    # The same experiment's description as a teacher saves it from Word.
    word_description(os.path.join(ROOT, 'Химия', 'Нейтрализация кислоты щёлочью'), 'Нейтрализация кислоты щёлочью', [
        [('Цель работы', 'h')],
        [('Измерить тепловой эффект реакции нейтрализации соляной кислоты раствором гидроксида натрия:', '')],
        [('HCl + NaOH → NaCl + H', 'b'), ('2', 'sub'), ('O', 'b')],
        [('Оборудование', 'h')],
        [('Датчик температуры T101, растворы HCl и NaOH (1 моль/л) по 50 см', ''), ('3', 'super'),
         (', пенопластовый стакан, мерный цилиндр.', '')],
        [('Ход работы', 'h')],
        [('1. Налейте в стакан 50 см', ''), ('3', 'super'), (' кислоты, опустите датчик и нажмите «Пуск».', '')],
        [('2. Через 10 секунд быстро прилейте 50 см', ''), ('3', 'super'), (' щёлочи и перемешайте.', '')],
        [('3. Когда температура перестанет расти, нажмите «Стоп». Повторите опыт с вдвое разбавленными '
          'растворами: вторая кривая появится рядом с первой.', '')],
        [('Расчёт', 'h')],
        [('Теплота, выделившаяся в стакане (c — удельная теплоёмкость воды, 4,2 кДж/(кг·°C), m — масса '
          'раствора, T', ''), ('1', 'sub'), (' и T', ''), ('2', 'sub'), (' — начальная и наибольшая температура):', '')],
        None,
        [('Обратите внимание: ', 'b'), ('кислоты и щёлочи опасны для кожи и глаз — работайте в очках и '
                                         'перчатках.', '')],
    ], formula([('Q', 'i'), (' = ', ''), ('c', 'i'), ('\u00b7', ''), ('m', 'i'), ('\u00b7', ''), ('(', ''),
                ('T', 'i'), ('2', 'sub'), (' \u2013 ', ''), ('T', 'i'), ('1', 'sub'), (')', '')]))


if __name__ == '__main__':
    main()
    sys.exit(0)
