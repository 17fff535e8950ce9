DELETE FROM `InstallExecuteSequence` WHERE `Action` = 'RegisterUser'
DELETE FROM `InstallExecuteSequence` WHERE `Action` = 'RegisterProduct'
DELETE FROM `InstallExecuteSequence` WHERE `Action` = 'PublishFeatures'
DELETE FROM `InstallExecuteSequence` WHERE `Action` = 'PublishProduct'
