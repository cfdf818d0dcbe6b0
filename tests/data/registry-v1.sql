PRAGMA journal_mode = WAL; PRAGMA application_id = 1263294034;
PRAGMA user_version = 1; CREATE TABLE meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,
    name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded));
CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL,
    type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;
INSERT INTO meta(k, v) VALUES('structure', 0); INSERT INTO keys(parent, name, folded)
    VALUES(0, 'Software', 'software'), (1, 'Kelvoran', 'kelvoran');
INSERT INTO vals VALUES(2, 'UTServerAddress', 'utserveraddress', 1, X'686F737400');
