PRAGMA journal_mode = WAL; PRAGMA application_id = 1263294034;
PRAGMA user_version = 2; CREATE TABLE meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,
    name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));
CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL,
    type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;
CREATE TABLE visits(id INTEGER PRIMARY KEY AUTOINCREMENT, came INTEGER NOT NULL, ended INTEGER,
    note TEXT NOT NULL, friend INTEGER NOT NULL, watched TEXT NOT NULL, name TEXT NOT NULL,
    ip TEXT NOT NULL, muted INTEGER NOT NULL);
INSERT INTO meta(k, v) VALUES('structure', 0); INSERT INTO keys(parent, name, folded)
    VALUES(0, 'Software', 'software'), (1, 'Kelvoran', 'kelvoran');
INSERT INTO vals VALUES(2, 'UTServerAddress', 'utserveraddress', 1, X'686F737400');
INSERT INTO visits(came, ended, note, friend, watched, name, ip, muted)
    VALUES(1710443520000, 1710443580000, '', 1, 'Al', 'Al', '10.1', 0);
